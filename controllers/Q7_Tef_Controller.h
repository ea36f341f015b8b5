#pragma once

#include "controllers/Base_Controller.h"
#include "controllers/PendingJournal.h"
#include "controllers/Q7_Tef_API.h"
#include "controllers/Q7_Tef_VO.h"

#include <QByteArray>
#include <QJsonObject>
#include <QStringList>
#include <memory>

class ProtocoloSitef;

// Controller of the step-wise Tef01 library (product 2). An operation is started, then the
// library is called again and again; between the calls the operator sees the library's
// prompts and answers them (the collection dialogue). Approved transactions wait in a journal
// until the sales application confirms or undoes them; one it was never told of is undone at
// the next start. While the journal cannot be read and written no payment runs: its approval
// could be neither recorded nor undone after a stop.
class Q7_Tef_Controller : public Base_Controller {
    Q_OBJECT

public:
    static constexpr const char *kJournalName = "pendentes.json";

    // `journalDirectory` holds pendentes.json, the transactions still to be confirmed or undone,
    // so that they survive a restart; empty: they are kept in memory only.
    explicit Q7_Tef_Controller(QObject *parent = nullptr,
                               const QString &libraryPath = Q7_Tef_API::defaultPath(),
                               const QString &journalDirectory = QString());
    ~Q7_Tef_Controller() override;

public slots:
    void setJsonConfigs(const QString &value) override;
    void markAnswered(const QString &dados, const QString &controle) override;

public:
    Q_INVOKABLE void onClickButtonOK(const QString &valorOfTextField, int estado) override;
    Q_INVOKABLE void onClickButtonVoltar() override;
    Q_INVOKABLE void onClickButtonCancelar() override;

    QString abandonedResponse(const QString &mensagem) const override;
    void recover(bool unknownOutcome) override;
    // Undoes the transaction of `dados`' "tef" "sequencial", as recover() does.
    void withdrawAnswer(const QString &dados) override;

protected:
    void processTef() override;
    void showScreen(const QJsonValue &tela) override;

    // Start document of the library, compact JSON in UTF-8.
    QByteArray buildStartJson() const;
    // Transaction document of a dialogue call: the request's fields on the first call, the
    // collection state (jsonConfigs) afterwards. Call with `mutex` held.
    QByteArray buildTransactionJson(bool firstCall) const;
    // jsonConfigs becomes the collection state of `reply`. Call with `mutex` held.
    void copyCollectionState(const QJsonObject &reply);
    // Whether `reply` asks for another call of the dialogue.
    static bool needsCollection(const QJsonObject &reply);

private:
    // Confirms or undoes each entry as decided, each one off the journal as soon as the library
    // says it is done.
    void settle(const QList<PendingJournal::Entry> &entries);
    void settleIdle(const QList<PendingJournal::Entry> &entries);
    // Whether the journal can be read and written; if not, logs that with `consequence`.
    bool journalUsable(const QString &consequence);
    static QString sequencialOf(const QString &dados);
    QByteArray settlePending(int decisao);
    QByteArray startOperation(const ProtocoloSitef &protocolo);
    // Runs the dialogue from the accepted start reply, journaling an approval as it comes;
    // leaves the last reply in `replyText`.
    void collect(const ProtocoloSitef &protocolo, QByteArray &replyText);
    void finish(const QJsonObject &identificacao, const QByteArray &replyText);

    Q7_Tef_API library;
    std::unique_ptr<Q7_Tef_VO> record;
    // What the response carries of the request (ProtocoloSitef::requestFallback); set with record.
    QJsonObject requisicao;
    QStringList optionList; // guarded by mutex: the GUI thread reads it for a list answer
    // A cancel that came while the library worked: the collection state copied from its reply
    // would drop the "9", so it is sent on the next pass. Guarded by mutex.
    bool cancelPending = false;
    PendingJournal journal;
    // Whether this request showed the window, which then stays up for the closing pause.
    // Controller thread only.
    bool windowShown = false;
};
