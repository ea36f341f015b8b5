#pragma once

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QtGlobal>

// One test's simulator set-up: the scenario file (none for the library's default play) and
// the call log, both in a fresh directory, named through the environment.
class Simulator {
public:
    explicit Simulator(const QJsonObject &scenario = QJsonObject()) {
        if (scenario.isEmpty()) {
            qunsetenv("Q7_SIM_SCENARIO");
        } else {
            QFile file(dir.filePath(QStringLiteral("scenario.json")));
            if (file.open(QIODevice::WriteOnly))
                file.write(QJsonDocument(scenario).toJson());
            qputenv("Q7_SIM_SCENARIO", QFile::encodeName(file.fileName()));
        }
        qputenv("Q7_SIM_CALLS", QFile::encodeName(callLog()));
    }
    ~Simulator() {
        qunsetenv("Q7_SIM_SCENARIO");
        qunsetenv("Q7_SIM_CALLS");
    }
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    static QString libraryPath() { return QStringLiteral(Q7_BIN_DIR "/libQ7_Tef01.so"); }

    QString callLog() const { return dir.filePath(QStringLiteral("calls.jsonl")); }

    // Every call so far as {"fn": name, "args": {...}}.
    QList<QJsonObject> calls() const {
        QList<QJsonObject> list;
        QFile file(callLog());
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray &line : file.readAll().split('\n'))
                if (!line.isEmpty())
                    list << QJsonDocument::fromJson(line).object();
        return list;
    }

    // Every call so far as "Name {compact arguments}", from call number `from` on.
    QStringList callLines(int from = 0) const {
        QStringList lines;
        const QList<QJsonObject> all = calls();
        for (int i = from; i < all.size(); ++i)
            lines << all.at(i).value(QStringLiteral("fn")).toString() + QLatin1Char(' ') +
                         QString::fromUtf8(QJsonDocument(all.at(i).value(QStringLiteral("args")).toObject())
                                               .toJson(QJsonDocument::Compact));
        return lines;
    }

    // The dialogue calls (both dialogue entry points), in order.
    QList<QJsonObject> dialogueCalls() const {
        QList<QJsonObject> list;
        for (const QJsonObject &call : calls()) {
            const QString fn = call.value(QStringLiteral("fn")).toString();
            if (fn == QLatin1String("RealizarPagamentoTEF") || fn == QLatin1String("RealizarAdmTEF"))
                list << call;
        }
        return list;
    }

    // The transaction document a dialogue call received.
    static QJsonObject transactionOf(const QJsonObject &call) {
        return QJsonDocument::fromJson(call.value(QStringLiteral("args"))
                                           .toObject()
                                           .value(QStringLiteral("dadosTransacao"))
                                           .toString()
                                           .toUtf8())
            .object();
    }

    QTemporaryDir dir;
};
