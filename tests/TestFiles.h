#pragma once

#include <QDate>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QRegularExpression>
#include <QStringList>
#include <QTextCodec>

// Whole-file reads and writes for the suites' fixtures: empty when unreadable, false unless
// every byte was written.
inline QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The replacement libraries' call log (SimSupport.h), in order: each call's name and arguments
// ({"fn", "args"}), or with `bookings` each booking's ({"retorno", "valor"}).
inline QList<QPair<QString, QJsonObject>> callLog(const QString &path, bool bookings = false) {
    const QLatin1String kind(bookings ? "retorno" : "fn");
    const QLatin1String member(bookings ? "valor" : "args");
    QList<QPair<QString, QJsonObject>> found;
    for (const QByteArray &line : readFile(path).split('\n')) {
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        if (entry.value(kind).isString())
            found.append({entry.value(kind).toString(), entry.value(member).toObject()});
    }
    return found;
}

inline QString dailyLog(const QString &dir) {
    return dir + QDate::currentDate().toString(QStringLiteral("/ddMMyy")) + QStringLiteral("_Q7-LOG.txt");
}

// Log files are in the local 8-bit encoding of the machine that wrote them; the Windows build's,
// under Wine in the Windows lane (Q7_WINDOWS_DEPLOY), writes Windows-1252.
inline QString logText(const QByteArray &raw) {
    static QTextCodec *const windows =
        qEnvironmentVariableIsSet("Q7_WINDOWS_DEPLOY") ? QTextCodec::codecForName("windows-1252") : nullptr;
    return windows ? windows->toUnicode(raw) : QString::fromLocal8Bit(raw);
}

// The lines of a log file, each without its time-stamp header, which must be there.
inline QStringList logLines(const QString &path) {
    static const QRegularExpression header(
        QStringLiteral("^\\{\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\}\\{Q7_PAGORA_PASSIVO\\}"));
    QStringList lines;
    for (const QByteArray &raw : readFile(path).split('\n')) {
        const QString line = logText(raw);
        if (!line.isEmpty())
            lines << (header.match(line).hasMatch() ? line.mid(38) : QStringLiteral("no header: ") + line);
    }
    return lines;
}

// A log line's text after its header: "{Info} \t\t text".
inline QString logLine(const char *level, const QString &text) {
    return QStringLiteral("{%1} \t\t ").arg(QLatin1String(level)) + text;
}
