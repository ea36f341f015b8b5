#pragma once

#include "controllers/Pagora_Controller.h"
#include "exchange/ProtocoloSitef.h"

#include <QJsonDocument>
#include <QMutex>
#include <QStringList>

// Opens the protected parts of the controller to the tests; no behaviour of its own.
class PagoraProbe : public Pagora_Controller {
public:
    using Pagora_Controller::capturaInicial;
    using Pagora_Controller::formatCurrency;
    using Pagora_Controller::Pagora_Controller;
    using Pagora_Controller::showScreen;
    using Pagora_Controller::telaMenu;

    QJsonObject record() const { return QJsonDocument::fromJson(resposta->toJsonString().toUtf8()).object(); }
    QJsonObject captura() const { return QJsonDocument::fromJson(jsonCaptura.toUtf8()).object(); }
    void setCaptura(const QString &json) { jsonCaptura = json; }
    bool waiting() const { return !prosseguir; }
    QString valor() const { return valorTransacao; }
};

// The request document the reader makes of a request file's lines.
inline QString request(const QString &lines) {
    return ProtocoloSitef().parseRequest(lines);
}

// Every controller signal as "name:argument", in emission order, recorded in the thread of
// the recorder: queued from a running controller thread, direct in a test that calls
// showScreen or the handlers itself.
class SignalLog : public QObject {
public:
    SignalLog(Base_Controller *c, Qt::ConnectionType type) {
        const auto text = [this, c, type](auto signal, const char *name) {
            connect(
                c, signal, this,
                [this, name](const QString &v) { lines << QString::fromLatin1(name) + QLatin1Char(':') + v; },
                type);
        };
        const auto flag = [this, c, type](auto signal, const char *name) {
            connect(
                c, signal, this,
                [this, name](bool v) { lines << QString::fromLatin1(name) + QLatin1String(v ? ":1" : ":0"); },
                type);
        };
        text(&Base_Controller::showMessageError, "showMessageError");
        text(&Base_Controller::textChanged, "textChanged");
        text(&Base_Controller::firstTextChanged, "firstTextChanged");
        text(&Base_Controller::textfiledChanged, "textfiledChanged");
        flag(&Base_Controller::showWindow, "showWindow");
        flag(&Base_Controller::disableButtonOK, "disableButtonOK");
        flag(&Base_Controller::disableButtonVoltar, "disableButtonVoltar");
        flag(&Base_Controller::disableButtonCancelar, "disableButtonCancelar");
        flag(&Base_Controller::disableTextField, "disableTextField");
        flag(&Base_Controller::disableListView, "disableListView");
        flag(&Base_Controller::disableProgressBar, "disableProgressBar");
        text(&Base_Controller::addItemList, "addItemList");
        connect(
            c, &Base_Controller::clearItemsList, this, [this] { lines << QStringLiteral("clearItemsList"); },
            type);
        text(&Base_Controller::responseProcessTEF, "responseProcessTEF");
    }
    QStringList lines;
};

// The controller's own log lines ("[Pagora_Controller] ...") as "<level> <text>", from any
// thread; everything else goes on to the previous handler.
class PagoraLog {
public:
    PagoraLog() {
        clear();
        previous = qInstallMessageHandler(&PagoraLog::handle);
    }
    ~PagoraLog() { qInstallMessageHandler(previous); }
    PagoraLog(const PagoraLog &) = delete;
    PagoraLog &operator=(const PagoraLog &) = delete;

    static QStringList lines() {
        QMutexLocker locker(&lock());
        return store();
    }
    static void clear() {
        QMutexLocker locker(&lock());
        store().clear();
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message) {
        if (!message.startsWith(QLatin1String("[Pagora_Controller]"))) {
            previous(type, context, message);
            return;
        }
        static const char *const names[] = {"debug", "warning", "critical", "fatal", "info"};
        QMutexLocker locker(&lock());
        store() << QString::fromLatin1(names[type]) + QLatin1Char(' ') + message;
    }
    static QMutex &lock() {
        static QMutex mutex;
        return mutex;
    }
    static QStringList &store() {
        static QStringList list;
        return list;
    }
    static inline QtMessageHandler previous = nullptr;
};
