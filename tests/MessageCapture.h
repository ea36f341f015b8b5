#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

// Records the messages that start with `prefix` (a class's log prefix) as "<level> <text>", in
// the order they were written, from any thread; everything else goes to the previous handler.
class MessageCapture {
public:
    explicit MessageCapture(const char *prefix = "[Base_Controller]") {
        clear();
        MessageCapture::prefix = prefix;
        previous = qInstallMessageHandler(&MessageCapture::handle);
    }
    ~MessageCapture() { qInstallMessageHandler(previous); }
    MessageCapture(const MessageCapture &) = delete;
    MessageCapture &operator=(const MessageCapture &) = delete;

    static QStringList lines() {
        QMutexLocker locker(&lock);
        return store;
    }
    static void clear() {
        QMutexLocker locker(&lock);
        store.clear();
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message) {
        if (!message.startsWith(QLatin1String(prefix)))
            return previous(type, context, message);
        static const char *const names[] = {"debug", "warning", "critical", "fatal", "info"};
        QMutexLocker locker(&lock);
        store << QString::fromLatin1(names[type]) + QLatin1Char(' ') + message;
    }
    static inline QMutex lock;
    static inline QStringList store;
    static inline QtMessageHandler previous = nullptr;
    static inline const char *prefix = nullptr;
};
