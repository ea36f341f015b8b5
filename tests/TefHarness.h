#pragma once

#include "MessageCapture.h"

#include "controllers/Q7_Tef_Controller.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QTemporaryDir>
#include <QtGlobal>

// What the operator window would see: every controller signal, queued into the test (GUI)
// thread in emission order, as "signal argument". Read it from the test thread only.
class WindowLog : public QObject {
public:
    explicit WindowLog(Base_Controller *c) {
        const auto text = [this](const char *name) {
            return [this, name](const QString &value) {
                events << QLatin1String(name) + QLatin1Char(' ') + value;
            };
        };
        const auto flag = [this](const char *name) {
            return [this, name](bool value) {
                events << QLatin1String(name) + QLatin1String(value ? " true" : " false");
            };
        };
        connect(c, &Base_Controller::showMessageError, this, text("showMessageError"));
        connect(c, &Base_Controller::textChanged, this, text("textChanged"));
        connect(c, &Base_Controller::firstTextChanged, this, text("firstTextChanged"));
        connect(c, &Base_Controller::textfiledChanged, this, text("textfiledChanged"));
        connect(c, &Base_Controller::showWindow, this, flag("showWindow"));
        connect(c, &Base_Controller::disableButtonOK, this, flag("disableButtonOK"));
        connect(c, &Base_Controller::disableButtonVoltar, this, flag("disableButtonVoltar"));
        connect(c, &Base_Controller::disableButtonCancelar, this, flag("disableButtonCancelar"));
        connect(c, &Base_Controller::disableTextField, this, flag("disableTextField"));
        connect(c, &Base_Controller::disableListView, this, flag("disableListView"));
        connect(c, &Base_Controller::disableProgressBar, this, flag("disableProgressBar"));
        connect(c, &Base_Controller::addItemList, this, text("addItemList"));
        connect(c, &Base_Controller::clearItemsList, this,
                [this] { events << QStringLiteral("clearItemsList"); });
        connect(c, &Base_Controller::responseProcessTEF, this, text("responseProcessTEF"));
    }

    // The events of one signal, without the signal's name.
    QStringList of(const QString &signal) const {
        QStringList values;
        const QString prefix = signal + QLatin1Char(' ');
        for (const QString &event : events)
            if (event.startsWith(prefix))
                values << event.mid(prefix.size());
        return values;
    }

    QStringList events;
};

// Log lines of the controller ("[Q7_Tef_Controller] ...") as "<level> <text>", from any thread.
class TefLogCapture : public MessageCapture {
public:
    TefLogCapture()
        : MessageCapture("[Q7_Tef_Controller]") {}
};

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

// The request document as the request reader makes it.
inline QString tefRequest(const QString &header, const QJsonObject &parametros) {
    return QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("header"), header},
                                                       {QStringLiteral("parametros"), parametros}})
                                 .toJson(QJsonDocument::Compact));
}

inline QJsonObject parseJson(const QString &text) {
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

inline void startRequest(Q7_Tef_Controller &c, const QString &header, const QJsonObject &parametros) {
    c.setJsonConfigs(tefRequest(header, parametros));
    c.start();
}

// Runs one request in the controller thread to its end and delivers the queued signals.
inline bool runRequest(Q7_Tef_Controller &c, const QString &header, const QJsonObject &parametros) {
    startRequest(c, header, parametros);
    const bool finished = c.wait(20000);
    QCoreApplication::sendPostedEvents();
    return finished;
}

// Stops a controller that a failed test left waiting for the operator: ~QThread must not
// meet a running thread.
class ControllerGuard {
public:
    explicit ControllerGuard(Q7_Tef_Controller &c)
        : controller(c) {}
    ~ControllerGuard() {
        for (int i = 0; i < 50 && !controller.wait(100); ++i)
            controller.onClickButtonCancelar();
    }
    ControllerGuard(const ControllerGuard &) = delete;
    ControllerGuard &operator=(const ControllerGuard &) = delete;

private:
    Q7_Tef_Controller &controller;
};
