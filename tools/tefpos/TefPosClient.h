#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// The sales-application side of the file exchange, as real point-of-sale clients do it:
// write the request under a temporary name and rename it into place, wait for a matching
// status file, then (for operations that have one) wait for the matching response.
class TefPosClient {
public:
    using Fields = QList<QPair<QString, QString>>; // tag, value; written in this order

    enum class Outcome {
        Approved,    // "009-000" = 0, or the status file matched for ATV/CNF/NCN
        Declined,    // a response whose "009-000" is anything else
        NotActive,   // no status file in time
        Mismatch,    // a status file for another request
        NoResponse,  // no matching response in time
        WriteFailed, // the request could not be written
    };

    struct Result {
        Outcome outcome = Outcome::NotActive;
        QByteArray status;   // the status file as read
        QByteArray response; // the matching response file as read (deleted afterwards)
        int discarded = 0;   // responses for other requests, deleted while waiting
    };

    QString requestDir;
    QString responseDir;
    QString requestName = QStringLiteral("IntPos.001");
    QString statusName = QStringLiteral("IntPos.Sts");
    QByteArray encoding = "UTF-8";
    int statusTimeoutMs = 7000;
    int responseTimeoutMs = -1; // waits without limit, as the operator can always give up
    int pollMs = 250;

    // Sends `fields` (must include "000-000" and "001-000"; "999-999 = 0" is added last
    // when missing) and waits for the answer.
    Result send(Fields fields) const;

    // A request file as the client writes it: "tag = value" lines ended by CR LF.
    QByteArray encode(const Fields &fields) const;

    // Parses "tag = value" lines; surrounding quotes, as some managers write them, are kept.
    static Fields parse(const QString &text);
    static QString value(const Fields &fields, const QString &tag);
    static bool expectsResponse(const QString &operation);

private:
    QString decode(const QByteArray &bytes) const;
};
