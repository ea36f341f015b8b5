#include "app/ServiceWiring.h"
#include "app/SingleInstanceGuard.h"
#include "app/Support.h"
#include "app/TerminationSignals.h"
#include "base/ConfigTef.h"
#include "base/Log.h"
#include "base/Version.h"
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

} // namespace

int main(int argc, char *argv[]) {
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
