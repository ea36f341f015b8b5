#include "TefPosClient.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTextCodec>
#include <QThread>

namespace {

QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QString TefPosClient::decode(const QByteArray &bytes) const {
    QTextCodec *codec = QTextCodec::codecForName(encoding);
    return codec ? codec->toUnicode(bytes) : QString::fromUtf8(bytes);
}

QByteArray TefPosClient::encode(const Fields &fields) const {
    QString text;
    for (const auto &field : fields)
        text += field.first + QStringLiteral(" = ") + field.second + QStringLiteral("\r\n");
    QTextCodec *codec = QTextCodec::codecForName(encoding);
    return codec ? codec->fromUnicode(text) : text.toUtf8();
}

TefPosClient::Fields TefPosClient::parse(const QString &text) {
    Fields fields;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        fields.append({line.left(equals).trimmed(), line.mid(equals + 1).trimmed()});
    }
    return fields;
}

QString TefPosClient::value(const Fields &fields, const QString &tag) {
    for (const auto &field : fields)
        if (field.first == tag)
            return field.second;
    return QString();
}

bool TefPosClient::expectsResponse(const QString &operation) {
    const QString code = operation.toUpper();
    return code != QLatin1String("ATV") && code != QLatin1String("CNF") && code != QLatin1String("NCN");
}

TefPosClient::Result TefPosClient::send(Fields fields) const {
    Result result;
    if (value(fields, QStringLiteral("999-999")).isEmpty())
        fields.append({QStringLiteral("999-999"), QStringLiteral("0")});
    const QString operation = value(fields, QStringLiteral("000-000"));
    const QString id = value(fields, QStringLiteral("001-000"));

    // A status file left from an earlier request must not be taken for this one's.
    const QString statusPath = responseDir + QLatin1Char('/') + statusName;
    QFile::remove(statusPath);

    const QString temporary = requestDir + QStringLiteral("/IntPos.tmp");
    const QString request = requestDir + QLatin1Char('/') + requestName;
    // Like a sales application starting up: stale files of our own are cleared first.
    QFile::remove(request);
    {
        QFile file(temporary);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(encode(fields)) < 0) {
            result.outcome = Outcome::WriteFailed;
            return result;
        }
    }
    if (!QFile::rename(temporary, request)) {
        QFile::remove(temporary);
        result.outcome = Outcome::WriteFailed;
        return result;
    }

    QDeadlineTimer statusDeadline(statusTimeoutMs);
    for (;;) {
        if (QFile::exists(statusPath)) {
            result.status = readAll(statusPath);
            const Fields status = parse(decode(result.status));
            if (!value(status, QStringLiteral("999-999")).isNull()) {
                const bool matches = value(status, QStringLiteral("000-000")) == operation &&
                                     value(status, QStringLiteral("001-000")) == id;
                if (!matches) {
                    result.outcome = Outcome::Mismatch;
                    return result;
                }
                break;
            }
        }
        if (statusDeadline.hasExpired()) {
            // Nobody took the request: take it back so a later manager does not run it.
            QFile::remove(request);
            result.outcome = Outcome::NotActive;
            return result;
        }
        QThread::msleep(static_cast<unsigned long>(pollMs));
    }

    if (!expectsResponse(operation)) {
        result.outcome = Outcome::Approved;
        return result;
    }

    const QString responsePath = responseDir + QLatin1Char('/') + requestName;
    // Both branches a QDeadlineTimer: as an int, Forever would be a deadline of 0 ms.
    const QDeadlineTimer responseDeadline =
        responseTimeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(responseTimeoutMs);
    for (;;) {
        if (QFile::exists(responsePath)) {
            const QByteArray bytes = readAll(responsePath);
            const Fields response = parse(decode(bytes));
            if (value(response, QStringLiteral("001-000")) == id) {
                QFile::remove(responsePath);
                result.response = bytes;
                result.outcome = value(response, QStringLiteral("009-000")) == QLatin1String("0")
                                     ? Outcome::Approved
                                     : Outcome::Declined;
                return result;
            }
            // An answer to some other request: not ours to keep.
            QFile::remove(responsePath);
            ++result.discarded;
        }
        if (responseDeadline.hasExpired()) {
            result.outcome = Outcome::NoResponse;
            return result;
        }
        QThread::msleep(static_cast<unsigned long>(pollMs));
    }
}
