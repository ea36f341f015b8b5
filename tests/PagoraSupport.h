#pragma once

#include "controllers/Pagora_Controller.h"
#include "exchange/ProtocoloSitef.h"

#include <QJsonDocument>
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
    bool waiting() const { return !prosseguir; }
    QString valor() const { return valorTransacao; }
};

// The request document the reader makes of a request file's lines.
inline QString request(const QString &lines) {
    return ProtocoloSitef().parseRequest(lines);
}

// Every controller signal as "name:argument", in emission order, recorded in the recorder's
// thread: queued from a running controller thread, direct when the test calls showScreen
// or a handler itself.
class SignalLog : public QObject {
public:
    SignalLog(Base_Controller *c, Qt::ConnectionType type) {
        const auto text = [=](void (Base_Controller::*signal)(const QString &), const char *name) {
            connect(
                c, signal, this, [=](const QString &v) { lines << QString::fromLatin1(name) + ':' + v; },
                type);
        };
        const auto flag = [=](void (Base_Controller::*signal)(bool), const char *name) {
            connect(
                c, signal, this, [=](bool v) { lines << QString::fromLatin1(name) + (v ? ":1" : ":0"); },
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
            c, &Base_Controller::clearItemsList, this, [=] { lines << QStringLiteral("clearItemsList"); },
            type);
        text(&Base_Controller::responseProcessTEF, "responseProcessTEF");
    }
    QStringList lines;
};
