// tefpos: a command-line sales application for the file exchange of the TEF service.
#include "TefPosClient.h"
#include "q7_version_text.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QTextCodec>
#include <QTime>

#include <cstdio>

namespace {

enum ExitCode { Approved = 0, Declined = 1, NotActive = 2, Mismatch = 3, NoResponse = 4, Usage = 64 };

// Response files need not end with a line break; the terminal output does.
void print(const QString &text) {
    std::fputs(text.toLocal8Bit().constData(), stdout);
    if (!text.endsWith(QLatin1Char('\n')))
        std::fputc('\n', stdout);
}

int fail(const QString &message) {
    std::fprintf(stderr, "tefpos: %s\n", message.toLocal8Bit().constData());
    return Usage;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tefpos"));
    QCoreApplication::setApplicationVersion(QStringLiteral(Q7_VERSION_TEXT));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends one request to the TEF service through the file exchange and prints its answer.\n"
        "Operations: ATV, ADM, CRT, CNC, CNF, NCN. Exit status: 0 approved (or status file matched\n"
        "for ATV/CNF/NCN), 1 declined, 2 manager not active, 3 status file of another request,\n"
        "4 no response in time, 64 usage or file error."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("operation"),
                                 QStringLiteral("ATV, ADM, CRT, CNC, CNF or NCN"));

    const QCommandLineOption config(
        {QStringLiteral("c"), QStringLiteral("config")},
        QStringLiteral("Take directories and file names from this config_tef.json."), QStringLiteral("file"));
    const QCommandLineOption reqDir(QStringLiteral("req"), QStringLiteral("Request directory."),
                                    QStringLiteral("dir"), QStringLiteral("C:/Cliente/Req"));
    const QCommandLineOption respDir(QStringLiteral("resp"), QStringLiteral("Response directory."),
                                     QStringLiteral("dir"), QStringLiteral("C:/Cliente/Resp"));
    const QCommandLineOption raw(QStringLiteral("raw"), QStringLiteral("Send this request file as it is."),
                                 QStringLiteral("file"));
    const QCommandLineOption id({QStringLiteral("i"), QStringLiteral("id")},
                                QStringLiteral("Identification (001-000); default: milliseconds of the day."),
                                QStringLiteral("number"));
    const QCommandLineOption amount({QStringLiteral("a"), QStringLiteral("amount")},
                                    QStringLiteral("Amount in cents (003-000)."), QStringLiteral("cents"));
    const QCommandLineOption document(QStringLiteral("doc"), QStringLiteral("Fiscal document (002-000)."),
                                      QStringLiteral("text"));
    const QCommandLineOption network(QStringLiteral("network"), QStringLiteral("Network name (010-000)."),
                                     QStringLiteral("name"));
    const QCommandLineOption nsu(QStringLiteral("nsu"), QStringLiteral("Transaction number (012-000)."),
                                 QStringLiteral("number"));
    const QCommandLineOption date(QStringLiteral("date"),
                                  QStringLiteral("Transaction date ddMMyyyy (022-000)."),
                                  QStringLiteral("date"));
    const QCommandLineOption time(
        QStringLiteral("time"), QStringLiteral("Transaction time HHmmss (023-000)."), QStringLiteral("time"));
    const QCommandLineOption finalizacao(
        QStringLiteral("confirmation"), QStringLiteral("Confirmation id (027-000)."), QStringLiteral("text"));
    const QCommandLineOption cardType(QStringLiteral("card-type"),
                                      QStringLiteral("Card type (731-000): 1 credit, 2 debit, ..."),
                                      QStringLiteral("type"));
    const QCommandLineOption instalments(QStringLiteral("instalments"),
                                         QStringLiteral("Number of instalments (018-000)."),
                                         QStringLiteral("n"));
    const QCommandLineOption financing(QStringLiteral("financing"),
                                       QStringLiteral("Financing type (017-000)."), QStringLiteral("type"));
    const QCommandLineOption statusTimeout(QStringLiteral("status-timeout"),
                                           QStringLiteral("Seconds to wait for the status file (default 7)."),
                                           QStringLiteral("s"), QStringLiteral("7"));
    const QCommandLineOption responseTimeout(
        QStringLiteral("response-timeout"),
        QStringLiteral("Seconds to wait for the response (default: no limit)."), QStringLiteral("s"));
    const QCommandLineOption encoding(QStringLiteral("encoding"),
                                      QStringLiteral("File encoding: utf-8 (default) or windows-1252."),
                                      QStringLiteral("name"), QStringLiteral("utf-8"));
    parser.addOptions({config, reqDir, respDir, raw, id, amount, document, network, nsu, date, time,
                       finalizacao, cardType, instalments, financing, statusTimeout, responseTimeout,
                       encoding});
    parser.process(app);

    TefPosClient client;
    client.requestDir = parser.value(reqDir);
    client.responseDir = parser.value(respDir);
    client.encoding = parser.value(encoding).toLatin1();
    if (parser.isSet(config)) {
        QFile file(parser.value(config));
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1").arg(parser.value(config)));
        const QJsonObject settings = QJsonDocument::fromJson(file.readAll()).object();
        client.requestDir = settings.value(QLatin1String("path_in")).toString(client.requestDir);
        client.responseDir = settings.value(QLatin1String("path_out")).toString(client.responseDir);
        client.requestName = settings.value(QLatin1String("file_req")).toString(client.requestName);
        client.statusName = settings.value(QLatin1String("file_resp")).toString(client.statusName);
        if (!parser.isSet(encoding))
            client.encoding =
                settings.value(QLatin1String("codificacao")).toString(QStringLiteral("utf-8")).toLatin1();
    }
    if (!QTextCodec::codecForName(client.encoding))
        return fail(QStringLiteral("unknown encoding %1").arg(QString::fromLatin1(client.encoding)));
    client.statusTimeoutMs = qRound(parser.value(statusTimeout).toDouble() * 1000);
    if (parser.isSet(responseTimeout))
        client.responseTimeoutMs = qRound(parser.value(responseTimeout).toDouble() * 1000);

    TefPosClient::Fields fields;
    if (parser.isSet(raw)) {
        QFile file(parser.value(raw));
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1").arg(parser.value(raw)));
        QTextCodec *codec = QTextCodec::codecForName(client.encoding);
        fields = TefPosClient::parse(codec->toUnicode(file.readAll()));
    } else {
        if (parser.positionalArguments().size() != 1)
            parser.showHelp(Usage);
        const QString operation = parser.positionalArguments().first().toUpper();
        static const QStringList known = {QStringLiteral("ATV"), QStringLiteral("ADM"),
                                          QStringLiteral("CRT"), QStringLiteral("CNC"),
                                          QStringLiteral("CNF"), QStringLiteral("NCN")};
        if (!known.contains(operation))
            return fail(QStringLiteral("unknown operation %1").arg(operation));
        const QString identification = parser.isSet(id)
                                           ? parser.value(id)
                                           : QString::number(QTime::currentTime().msecsSinceStartOfDay());
        // Sorted by tag, as sales applications write them.
        QMap<QString, QString> byTag{{QStringLiteral("000-000"), operation},
                                     {QStringLiteral("001-000"), identification}};
        const QList<QPair<QString, QCommandLineOption>> optional = {
            {QStringLiteral("002-000"), document},    {QStringLiteral("003-000"), amount},
            {QStringLiteral("010-000"), network},     {QStringLiteral("012-000"), nsu},
            {QStringLiteral("017-000"), financing},   {QStringLiteral("018-000"), instalments},
            {QStringLiteral("022-000"), date},        {QStringLiteral("023-000"), time},
            {QStringLiteral("027-000"), finalizacao}, {QStringLiteral("731-000"), cardType},
        };
        for (const auto &entry : optional)
            if (parser.isSet(entry.second))
                byTag.insert(entry.first, parser.value(entry.second));
        if (operation == QLatin1String("CRT"))
            byTag.insert(QStringLiteral("004-000"), QStringLiteral("0")); // currency: real
        for (auto it = byTag.cbegin(); it != byTag.cend(); ++it)
            fields.append({it.key(), it.value()});
    }
    if (TefPosClient::value(fields, QStringLiteral("000-000")).isEmpty() ||
        TefPosClient::value(fields, QStringLiteral("001-000")).isEmpty())
        return fail(QStringLiteral("the request needs 000-000 and 001-000"));

    const TefPosClient::Result result = client.send(fields);
    QTextCodec *codec = QTextCodec::codecForName(client.encoding);
    if (!result.status.isEmpty())
        print(QStringLiteral("== %1\n%2").arg(client.statusName, codec->toUnicode(result.status)));
    if (!result.response.isEmpty())
        print(QStringLiteral("== %1\n%2").arg(client.requestName, codec->toUnicode(result.response)));

    switch (result.outcome) {
    case TefPosClient::Outcome::Approved:
        return Approved;
    case TefPosClient::Outcome::Declined:
        std::fprintf(stderr, "tefpos: not approved: %s\n",
                     qUtf8Printable(TefPosClient::value(
                         TefPosClient::parse(codec->toUnicode(result.response)), QStringLiteral("030-000"))));
        return Declined;
    case TefPosClient::Outcome::NotActive:
        std::fprintf(stderr, "tefpos: gerenciador padrão não está ativo (no status file in time)\n");
        return NotActive;
    case TefPosClient::Outcome::Mismatch:
        std::fprintf(stderr, "tefpos: status file of another request\n");
        return Mismatch;
    case TefPosClient::Outcome::NoResponse:
        std::fprintf(stderr, "tefpos: no response in time\n");
        return NoResponse;
    case TefPosClient::Outcome::WriteFailed:
        return fail(QStringLiteral("cannot write the request into %1").arg(client.requestDir));
    }
    return Usage;
}
