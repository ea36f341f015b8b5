#include "app/TerminationSignals.h"

#include <QCoreApplication>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop picks the byte up.
void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[0], &byte, 1);
}

} // namespace

void quitOnTerminationSignals(std::function<void()>) {
    if (g_pipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_pipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_pipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, QCoreApplication::instance(), [] {
        char byte;
        [[maybe_unused]] const ssize_t read = ::read(g_pipe[1], &byte, 1);
        QCoreApplication::quit();
    });

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    // The end of a session can come as a hangup.
    ::sigaction(SIGHUP, &action, nullptr);
}

#elif defined(Q_OS_WIN)
#include "base/Log.h"
#include "controllers/platform/Win32SessionEnd.h"
#include <utility>

namespace {

std::function<void()> g_stopNow;

void endSession(void *) {
    Log().info("Fim da sessão do Windows: encerrando");
    if (g_stopNow)
        g_stopNow();
    QCoreApplication::quit();
}

void close(void *) {
    QCoreApplication::quit();
}

} // namespace

void quitOnTerminationSignals(std::function<void()> stopNow) {
    static bool watching = false;
    if (std::exchange(watching, true))
        return;
    g_stopNow = std::move(stopNow);
    win32::StopHandlers handlers;
    handlers.endSession = endSession;
    handlers.close = close;
    handlers.reason = L"Operação TEF em andamento. Aguarde o fim para encerrar.";
    if (!win32::watchStopRequests(handlers))
        Log().critical(QStringLiteral("Fim da sessão do Windows não será tratado: ") +
                       QString::number(GetLastError()));
}

#else

void quitOnTerminationSignals(std::function<void()>) {}

#endif
