#include "app/Log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QMutex>
#include <QTextStream>

namespace {

// Both files are written under one lock so that lines from the main thread and the
// controller thread never interleave.
QMutex &fileLock() {
    static QMutex mutex;
    return mutex;
}

void appendLine(const QString &path, const QString &line) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QTextStream stream(&file); // no codec: the locale's 8-bit encoding
    stream << line << '\n';
}

void toMessageOutput(Log::Level level, const QString &message) {
    QMessageLogger logger;
    switch (level) {
    case Log::Debug:
        logger.debug().noquote() << message;
        break;
    case Log::Info:
        logger.info().noquote() << message;
        break;
    case Log::Critical:
        logger.critical().noquote() << message;
        break;
    default:
        break;
    }
}

void emitAt(Log::Level level, const QString &message) {
    toMessageOutput(level, message);
    Log::write(level, message);
}

} // namespace

void Log::debug(const QString &message) const {
    emitAt(Debug, message);
}
void Log::debug(const char *message) const {
    emitAt(Debug, QString::fromUtf8(message));
}
void Log::info(const QString &message) const {
    emitAt(Info, message);
}
void Log::info(const char *message) const {
    emitAt(Info, QString::fromUtf8(message));
}
void Log::info(const char *message, int number) const {
    emitAt(Info, QString::fromUtf8(message) + QString::number(number));
}
void Log::critical(const QString &message) const {
    emitAt(Critical, message);
}
void Log::critical(const char *message) const {
    emitAt(Critical, QString::fromUtf8(message));
}

QString Log::formatLine(int level, const QString &message, const QDateTime &when) {
    static const char *const markers[] = {
        "{Debug} \t\t %1", "{Warning} \t %1", "{Error} \t\t %1", "{Fatal} \t\t %1", "{Info} \t\t %1",
    };
    QString line =
        QStringLiteral("{%1}{%2}")
            .arg(when.toString(QStringLiteral("dd/MM/yy hh:mm:ss")), QStringLiteral("Q7_PAGORA_PASSIVO"));
    if (level >= Debug && level <= Info)
        line += QString::fromLatin1(markers[level]).arg(message);
    return line;
}

void Log::write(int level, const QString &message) {
    const QString single = qEnvironmentVariable("Q7_LOG");
    const QString daily = qEnvironmentVariable("Q7_LOG_PATH");
    if (single.isEmpty() && daily.isEmpty())
        return;

    const QDateTime now = QDateTime::currentDateTime();
    const QString line = formatLine(level, message, now);

    QMutexLocker locker(&fileLock());
    if (!single.isEmpty())
        appendLine(single, line);
    if (!daily.isEmpty() && QDir(daily).exists())
        appendLine(daily + QLatin1Char('/') + now.toString(QStringLiteral("ddMMyy")) +
                       QStringLiteral("_Q7-LOG.txt"),
                   line);
}
