#pragma once

#include "MessageCapture.h"
#include "Simulator.h"

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
