#pragma once

#include "TestFiles.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QtGlobal>

// One test's replacement library set-up: the scenario (JSON text; none plays the library's
// default) and the call log, both in a fresh directory named through the environment.
class Simulator {
public:
    explicit Simulator(const QByteArray &scenario = QByteArray()) {
        QFile file(dir.filePath(QStringLiteral("scenario.json")));
        if (!scenario.isEmpty() && file.open(QIODevice::WriteOnly) && file.write(scenario) == scenario.size())
            qputenv("Q7_SIM_SCENARIO", QFile::encodeName(file.fileName()));
        else
            qunsetenv("Q7_SIM_SCENARIO");
        qputenv("Q7_SIM_CALLS", QFile::encodeName(dir.filePath(QStringLiteral("calls.jsonl"))));
    }
    ~Simulator() {
        qunsetenv("Q7_SIM_SCENARIO");
        qunsetenv("Q7_SIM_CALLS");
    }

    // Every call so far as "Name {compact arguments}", those that contain `filter`.
    QStringList calls(const QString &filter = QString()) const {
        QStringList lines;
        for (const auto &[name, arguments] : callLog(dir.filePath(QStringLiteral("calls.jsonl")))) {
            const QString text = name + QLatin1Char(' ') +
                                 QString::fromUtf8(QJsonDocument(arguments).toJson(QJsonDocument::Compact));
            if (text.contains(filter))
                lines << text;
        }
        return lines;
    }

    QTemporaryDir dir;
};
