#pragma once

#include "controllers/Base_Controller.h"
#include "controllers/Q7_Bridge_API.h"
#include "controllers/Q7_Bridge_VO.h"

#include <functional>
#include <memory>

class ProtocoloSitef;

// Controller of the bridge product: one library call carries out the whole operation. It
// never asks the operator anything; it shows the window with the busy bar while the library
// works, then the status line for a while, and answers with the library's reply plus the
// request's identifying keys.
class Q7_Bridge_Controller : public Base_Controller {
    Q_OBJECT

public:
    explicit Q7_Bridge_Controller(QObject *parent = nullptr,
                                  const QString &libraryPath = Q7_Bridge_API::defaultLibraryPath());
    ~Q7_Bridge_Controller() override;

public slots:
    void setJsonConfigs(const QString &value) override;

public:
    // The bridge library drives the operation alone: the buttons have no effect.
    Q_INVOKABLE void onClickButtonOK(const QString &valorOfTextField, int estado) override;
    Q_INVOKABLE void onClickButtonVoltar() override;
    Q_INVOKABLE void onClickButtonCancelar() override;

    QString abandonedResponse(const QString &mensagem) const override;
    void recover(bool unknownOutcome) override;

protected:
    void processTef() override;
    void showScreen(const QJsonValue &tela) override;

private:
    // Shows the operation on the window's first line and returns the reply text of the
    // library call it calls for; `showFailure` presents a call that cannot be made.
    QString callLibrary(const Q7_Bridge_VO &current, const ProtocoloSitef &protocolo,
                        const std::function<void(const QString &)> &showFailure);

    Q7_Bridge_API library;
    // Written by setJsonConfigs in the GUI thread before start(), read by the thread.
    std::unique_ptr<Q7_Bridge_VO> record;
};
