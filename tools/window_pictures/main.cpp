// Renders the operator window in the states the README shows, as PNG files:
//   window_pictures FOLDER    (offscreen: QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software)
// Each state is set through the controller's own signals, as a payment controller would.
#include "app/WindowTypes.h"
#include "controllers/Base_Controller.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExpression>
#include <QQuickWindow>
#include <QScreen>
#include <QTest>
#include <cstdio>

namespace {

// Only its signals are used: nothing is run and no button does anything.
class SceneController : public Base_Controller {
public:
    void setJsonConfigs(const QString &) override {}
    void onClickButtonOK(const QString &, int) override {}
    void onClickButtonVoltar() override {}
    void onClickButtonCancelar() override {}
    QString abandonedResponse(const QString &) const override { return QString(); }

protected:
    void processTef() override {}
    void showScreen(const QJsonValue &) override {}
};

const char *const kBlank = "c.textChanged(''); c.clearItemsList(); c.disableTextField(true);"
                           "c.disableButtonVoltar(true); c.disableProgressBar(true);";
const char *const kMenu = "c.firstTextChanged('R$ 5,00\\nLISTA DE OPERAÇÕES'); c.textChanged('Selecione');"
                          "c.addItemList('Pagamento débito'); c.addItemList('Pagamento crédito');"
                          "c.disableListView(false);";

const struct {
    const char *picture;
    QString script;
} kScenes[] = {
    {"window-menu.png", QString::fromUtf8(kMenu)},
    {"window-prefilled.png", "c.firstTextChanged('R$ 5,00\\nNUMERO DO DOCUMENTO FISCAL');"
                             "c.disableTextField(false); c.textfiledChanged('123')"},
    {"window-long-list.png",
     QString::fromUtf8(
         "c.firstTextChanged('Venda Crédito\\n Valor: R$ 123,45');"
         "c.textChanged('Selecione a forma de pagamento'); ['A vista', 'Parcelado pelo "
         "estabelecimento em até 12 vezes sem juros no cartão de crédito da bandeira', 'Parcelado "
         "pela administradora', 'Pré-datado', 'Crediário', 'Voucher refeição', 'Voucher "
         "alimentação', 'Frota', 'Private label', 'Saque', 'Recarga de celular', 'Pagamento de "
         "conta'].forEach(function(o) { c.addItemList(o) }); c.disableListView(false)")},
    {"window-long-band.png",
     "c.firstTextChanged('R$ 5,00\\nAPROXIME, INSIRA OU PASSE O CARTAO NA LEITORA E "
     "SIGA AS INSTRUCOES QUE APARECEM NO VISOR DO PINPAD\\nCARTAO DE CREDITO\\nAGUARDE "
     "A SENHA'); c.disableProgressBar(false)"},
    {"window-undelivered.png",
     QString::fromUtf8(
         "c.firstTextChanged('Venda Crédito\\n Valor: R$ 10,00'); var p = 'Respostas não podem "
         "ser entregues em C:/Cliente/Resp. Verifique a pasta ou o disco; a venda aguarda.';"
         "c.disableButtonOK(true); c.disableButtonCancelar(true); c.textChanged(p); c.showMessageError(p);"
         "c.deliveryProblem(p)")},
    {"window-error.png",
     QString::fromUtf8(kMenu) +
         QString::fromUtf8("list.currentIndex = -1; c.showMessageError('Selecione uma opção!')")},
};

} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_pictures FOLDER\n");
        return 2;
    }
    registerWindowTypes();
    QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
    SceneController controller;
    int failed = 0;
    for (const auto &scene : kScenes) {
        // A fresh window each time: no scene inherits another's list or error box.
        QQmlApplicationEngine engine;
        engine.rootContext()->setContextProperty(QStringLiteral("controller"), &controller);
        engine.load(QUrl(QStringLiteral("qrc:/main.qml")));
        auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
        if (!window)
            return 1;
        window->show();
        QQmlExpression expression(qmlContext(window), window,
                                  "(function(c) { " + QString::fromUtf8(kBlank) + scene.script +
                                      " })(controller)");
        expression.evaluate();
        // Until the pictures are in, and the scene has settled.
        const bool ready = QTest::qWaitFor(
            [&] {
                return QQmlExpression(qmlContext(window), window,
                                      QStringLiteral("image.status === Image.Ready"))
                    .evaluate()
                    .toBool();
            },
            10000);
        QTest::qWait(200);
        const QImage image = window->screen()->grabWindow(window->winId()).toImage();
        const QString path = QDir(QString::fromLocal8Bit(argv[1])).filePath(QLatin1String(scene.picture));
        if (!ready || expression.hasError() || !image.save(path)) {
            std::fprintf(stderr, "%s: not written\n", scene.picture);
            ++failed;
        }
    }
    return failed == 0 ? 0 : 1;
}
