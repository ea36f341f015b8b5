#pragma once

#include "SignalLog.h"
#include "controllers/Pagora_Controller.h"
#include "exchange/ProtocoloSitef.h"

#include <QJsonDocument>
#include <QStringList>

// Opens the protected parts of the controller to the tests; no behaviour of its own.
class PagoraProbe : public Pagora_Controller {
public:
    using Pagora_Controller::formatCurrency;
    using Pagora_Controller::initialCapture;
    using Pagora_Controller::menuScreen;
    using Pagora_Controller::Pagora_Controller;
    using Pagora_Controller::showScreen;

    // The thread calls this object's virtual functions: it ends before the controller's own
    // destructor turns them into the controller's.
    ~PagoraProbe() override {
        interrupt();
        wait();
    }

    QJsonObject record() const { return QJsonDocument::fromJson(resposta->toJsonString().toUtf8()).object(); }
    QJsonObject captura() const { return QJsonDocument::fromJson(jsonCaptura.toUtf8()).object(); }
    bool waiting() const { return !prosseguir; }
    QString valor() const { return valorTransacao; }
};

// The request document the reader makes of a request file's lines.
inline QString request(const QString &lines) {
    return ProtocoloSitef().parseRequest(lines);
}
