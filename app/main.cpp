#include "app/ServiceWiring.h"
#include "app/SingleInstanceGuard.h"
#include "app/Support.h"
#include "app/TerminationSignals.h"
#include "base/ConfigTef.h"
#include "base/Log.h"
#include "base/Version.h"
#include "controllers/platform/CommandOutput.h"
#include "controllers/platform/SharedStateDirectory.h"

#include <QApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>

#include <memory>

namespace {

// Where config_tef.json and the journal live: beside the executable unless the build names
// a directory, as the installed build does, whose code nobody but root may change.
QString stateDirectory() {
#ifdef Q7_STATE_DIR
    return QStringLiteral(Q7_STATE_DIR);
#else
    return QString();
#endif
}

constexpr int kUsageError = 64;

// --version and --help are answered before anything exists: no display needed, no log, no slot.
// -1: no such request, start the service.
int answerRightAway(int argc, char *argv[]) {
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument == QLatin1String("--version") || argument == QLatin1String("-v")) {
            platform::print(QStringLiteral("q7_pagora_passivo %1\n").arg(QString::fromUtf8(kVersionText)));
            return 0;
        }
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            platform::print(QStringLiteral(
                "Uso: q7_pagora_passivo [opção]\n"
                "Sem opção, inicia o serviço TEF com o config_tef.json da sua pasta.\n"
                "  --verificar    confere configuração, pastas, biblioteca, diário e log, sem\n"
                "                 iniciar o serviço; uma linha por item (ok ou ERRO)\n"
                "  --pendentes    lista as transações pendentes do diário\n"
                "  -v, --version  mostra a versão e sai\n"
                "  -h, --help     mostra esta ajuda e sai\n"));
            return 0;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[]) {
    const int answered = answerRightAway(argc, argv);
    if (answered >= 0)
        return answered;
    if (const std::optional<int> status = support::runCommand(argc, argv, stateDirectory()))
        return *status;

    // The autostart entry starts the installed service in every account's session: one that may not
    // use the state directory says so once, before it shows anything, and leaves nothing behind.
    const QString outsider = platform::outsiderNotice(stateDirectory());
    if (!outsider.isEmpty()) {
        Log().info(outsider);
        return 0;
    }

    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication app(argc, argv);
    // Qt has taken its own options (-platform, -style, ...) off the command line: what is left is
    // nothing the service knows.
    const QStringList unknown = QCoreApplication::arguments().mid(1);
    if (!unknown.isEmpty()) {
        platform::print(
            QStringLiteral("q7_pagora_passivo: opção desconhecida: %1; use --help para ver as opções\n")
                .arg(unknown.first()),
            true);
        return kUsageError;
    }

    // Without a display there is no OpenGL: render the window with the software scene graph.
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);

    // Before the first file there is made: the next member to start must be able to replace it.
    const QStringList unshared = platform::shareWithGroup(stateDirectory());
    ConfigTef config(stateDirectory());
    Log log;
    log.info("Q7_PAGORA_PASSIVO");
    log.info(QStringLiteral("Versão: ") + QString::fromUtf8(kVersionText));
    for (const QString &problem : unshared)
        log.critical(problem);

    SingleInstanceGuard guard(QString::fromLatin1(kApplicationId));
    if (!guard.tryToRun()) {
        const QString holder = guard.holder();
        log.info(QStringLiteral("Uma instância já está aberta (PID %1)")
                     .arg(holder.isEmpty() ? QStringLiteral("desconhecido") : holder));
        return 0;
    }

    const int produto = config.getProdutoTef();
    if (produto < 0 || produto > 2) {
        log.critical(QStringLiteral("Produto TEF inválido: %1; use -1, 0, 1 ou 2 em produto_tef de "
                                    "config_tef.json")
                         .arg(config.produtoTefText()));
        return -1;
    }
    log.info("Produto TEF configurado: ", produto);
    // A service that watched a path it cannot use would wait there for ever without a word.
    if (!config.directoryProblem().isEmpty()) {
        log.critical(config.directoryProblem());
        return -1;
    }

    QQmlApplicationEngine engine;
    // Its destruction is the stop: it stops taking requests, ends a running operation and
    // writes its answer.
    std::unique_ptr<ServiceWiring> wiring;
    // Before the wiring starts watching: from then on a stop request must end the loop cleanly.
    quitOnTerminationSignals([&wiring] { wiring.reset(); });
    ServiceWiring::Options options;
    options.windowInBackground = true;
    options.configDirectory = stateDirectory();
    wiring = std::make_unique<ServiceWiring>(produto, engine, options);
    const int status = app.exec();
    wiring.reset();
    return status;
}
