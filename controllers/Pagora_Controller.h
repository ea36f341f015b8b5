#pragma once

#include "controllers/Base_Controller.h"
#include "controllers/Pagora_API.h"
#include "controllers/PendingJournal.h"
#include "controllers/RespostaTef.h"

#include <QJsonObject>
#include <QStringList>
#include <memory>

// Controller of product 0: runs each request through the screen-driven TEF library. The
// library returns one capture document per call describing the next screen; the thread
// shows it through the base signals, polls until the operator has answered through one of
// the handlers when the screen asks for input, and sends the answer back in the next call.
//
// Shared between the controller thread and the GUI thread (handlers, setJsonConfigs):
// prosseguir, jsonCaptura, jsonConfigs, opcoesMenu, listRows, valorTransacao and resposta.
// All of them live under the base mutex, so the thread never sees prosseguir without the
// documents the handler wrote before it.
//
// The library holds one approved payment or cancellation at a time for its confirmation or
// undo, the last one (an approval that follows confirms the one before). Which one that is,
// and whether its sales application was told of it, the controller keeps in
// pendente_orvix.json: a stop undoes it only when nobody was told.
class Pagora_Controller : public Base_Controller {
    Q_OBJECT

public:
    static constexpr const char *kJournalName = "pendente_orvix.json";

    // `journalDirectory` holds pendente_orvix.json; empty: it is kept in memory only.
    explicit Pagora_Controller(QObject *parent = nullptr,
                               const QString &libraryPath = Pagora_API::defaultPath(),
                               const QString &journalDirectory = QString());
    ~Pagora_Controller() override;

    // Library documents in a row that do not parse before the operation ends as failed.
    static constexpr int kMaxUnreadableDocuments = 3;

public slots:
    void setJsonConfigs(const QString &value) override;
    void markAnswered(const QString &dados, const QString &controle) override;

public:
    Q_INVOKABLE void onClickButtonOK(const QString &valorOfTextField, int estado) override;
    Q_INVOKABLE void onClickButtonVoltar() override;
    Q_INVOKABLE void onClickButtonCancelar() override;

    QString abandonedResponse(const QString &message) const override;
    void recover(bool unknownOutcome) override;
    // Undoes the library's pending transaction when it is that of `dados`.
    void withdrawAnswer(const QString &dados) override;

protected:
    QString describeTransaction(const QJsonObject &response) const override;

    void processTef() override;
    void showScreen(const QJsonValue &screen) override;

    // Built-in screens, never sent to the library.
    QJsonObject menuScreen(const QStringList &options);
    static QJsonObject amountPrompt(const QString &message);
    static QJsonObject endScreen(const QString &message, int status);
    // Writes the first capture document of a flow into jsonCaptura and returns it.
    QString initialCapture();

    Pagora_API api;
    std::unique_ptr<RespostaTef> resposta;
    bool prosseguir = true;
    QStringList opcoesMenu;
    QString jsonCaptura;
    QString valorTransacao;
    // Rows of the list on screen; a choice outside them is refused.
    int listRows = 0;
    // A "CANCELAR" that came while the library worked: the next capture document would
    // overwrite its "TipoFluxo", so it is applied to that document once it is in.
    bool cancelPending = false;
    // Whether this request showed the window, which then stays up for the closing pause.
    // Controller thread only.
    bool windowShown = false;

private:
    // Outcome of a part of the flow: empty when it went on normally, else the error text
    // that the response carries with "resultado" -1.
    using Failure = QString;

    Failure settle(int decision);
    // The decision the library's pending transaction is settled by: the first one given for it.
    int decided(int decision);
    // What a response approved that the library keeps for a decision; its sequencial is empty
    // for anything else.
    static PendingJournal::Entry approvalOf(const QJsonObject &response);
    Failure authenticateAndStart();
    Failure captureLoop(QJsonObject &lastScreen);
    void finish(const QJsonObject &lastScreen, const Failure &failure, int operation = 0);
    void answerError(const QString &text);
    Failure missing(const char *entryPoint) const;

    static int resultOf(const QJsonObject &lastScreen, int operation);
    int currentOperation();
    void setProsseguir(bool value);
    void store(void (RespostaTef::*setter)(const QString &), const QString &value);
    void cancelCapture();
    void publishCapture(const QJsonObject &capture);
    QString requestValueFor(const QString &prompt, const QString &shown);
    void answerFlow(int flowType);

    // The library's pending transaction, as the service knows it: none or one.
    PendingJournal journal;
};
