#pragma once

#include "controllers/Base_Controller.h"

#include <QJsonDocument>
#include <QStringList>
#include <functional>

// The smallest concrete controller: it records the window's calls and runs whatever operation a
// test gives it. No Q_OBJECT, so the window sees the base's meta-object.
class TestController : public Base_Controller {
public:
    using Base_Controller::bringWindowToFront;
    using Base_Controller::clearScreen;
    using Base_Controller::formatCurrency;

    ~TestController() override { wait(); }

    void setJsonConfigs(const QString &value) override {
        jsonConfigs = QJsonDocument::fromJson(value.toUtf8()).object();
    }
    void onClickButtonOK(const QString &valorOfTextField, int estado) override {
        calls << QStringLiteral("OK %1 %2").arg(valorOfTextField).arg(estado);
    }
    void onClickButtonVoltar() override { calls << QStringLiteral("VOLTAR"); }
    void onClickButtonCancelar() override { calls << QStringLiteral("CANCELAR"); }
    QString abandonedResponse(const QString &) const override { return QString(); }

    // Runs `operation` in the controller thread with access to the protected base.
    std::function<void(TestController &)> operation;

    QStringList calls; // GUI thread only

protected:
    void processTef() override {
        if (operation)
            operation(*this);
    }
    void showScreen(const QJsonValue &) override {}
};
