#pragma once

#include "base/Log.h"
#include "exchange/ProtocoloSitef.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QTextCodec;

// The fate of every request the service takes, from the claim to the moment the sales
// application has its answer, and what a start does with what an earlier run left:
//
//   taken     the request file is renamed to kClaimName in path_in before it is read, so it is
//             run once; one the client can no longer be told of in time is set aside unrun;
//   told      the status file is on disk, whole, before the library is called, and only while
//             the client still waits for it (kClientWaitMs from when it wrote the request);
//   decided   the answer is written into the fate file (kFateName, beside config_tef.json)
//             before anyone is told; the claim then goes. The fate file says "entregando" once
//             the response's temporary file is whole, before it is renamed into place;
//   delivered the response file is in path_out; one that cannot be written waits in the fate
//             file and is tried again, with growing intervals, for as long as it takes, and
//             nothing new is taken meanwhile;
//   taken by the client: its response file is gone from path_out, or the next request names
//             its transaction. A response still there when the next request comes was never
//             read: it is withdrawn (removed, and an approval undone where the library can).
//
// Confirmations, undos and "ATV" are answered by their status file; their fate is the
// settlement, done when their claim goes. Everything runs on the main thread.
//
// A power cut keeps only what reached the disk, so each step is on it before the next relies on
// it (platform::renameDurably, removeDurably, writeDurably, syncFile): the claim before the status
// says it was taken; the decided answer, then the claim's removal, before the response is
// written; the temporary response, its data and its name, before the fate file says
// "entregando", and that before the rename into place; a settled claim's removal before the next
// request; a withdrawn response's removal before its approval is undone. The controllers' journals
// are on the disk before a status, an answer or a settlement relies on them.
class RequestFate : public QObject {
    Q_OBJECT

public:
    static constexpr const char *kClaimName = "arquivo_tef.em_andamento";
    static constexpr const char *kFateName = "arquivo_tef.destino";
    // A request its client gave up on is renamed to this, with the time appended, for support.
    static constexpr const char *kSetAsideName = "arquivo_tef.expirada";
    // How long a sales application waits for the status file after writing its request.
    static constexpr int kClientWaitMs = 7000;
    // Spare time for the client's last poll and for the write itself.
    static constexpr int kStatusMarginMs = 500;
    // Undeliverable answers are tried again after 250 ms, then twice as long each time, up to this.
    static constexpr int kMaxRetryIntervalMs = 30000;

    RequestFate(const QString &pathIn, const QString &pathOut, const QString &fileReq,
                const QString &fileResp, const QString &stateDirectory, const ProtocoloSitef &protocolo,
                int produto, QTextCodec *codec);

    // Whether a request may be taken now: nothing waits for its delivery or settlement.
    bool idle() const { return m_stage == Stage::Idle; }
    // Whether an answer is decided and waits to be written.
    bool delivering() const { return m_stage == Stage::Delivering; }

    // Takes `fileName` by renaming it to the claim; false when it cannot be taken (left alone).
    bool claim(const QString &fileName);
    QByteArray readClaim(qint64 maxBytes) const;
    // Before the request `document` runs: the answer of the one before it was taken or is
    // withdrawn. False when its client no longer waits for it: set aside unrun.
    bool handOver(const QString &document);
    // The controller's outcome, decided before its closing pause: into the fate file at once.
    void recordOutcome(const QString &dados);
    // The controller's answer: delivered (or, for CNF/NCN/ATV, the settlement is over).
    void processResponse(const QString &dados);

    // At start, before watching: what an earlier run left. A decided answer is delivered again (or
    // withdrawn, when its client has moved past it); a delivered one is the client's if it is gone
    // from path_out, or else withdrawn. True when an undecided claim is left: readClaim() has the
    // request, to be handed over again (a confirmation, undo or "ATV") or answered with
    // answerUnknown().
    bool recover();
    // Answers the recovered claim of `document` with `response`, which does not approve.
    void answerUnknown(const QString &document, const QString &response);

    // Shutdown, after the last answer: a few last attempts at what waits to be written. Blocks
    // for at most kShutdownWriteAttempts pauses.
    void finishPendingWrites();
    static constexpr int kShutdownWriteAttempts = 8;

    static QString describe(const QString &document);

signals:
    // The status file is on disk: the library may be called.
    void startTefProcess();
    // A request could not be taken or was set aside: watching goes on.
    void requestDropped();
    // The client has the response: `dados` its document, `controle` its "027-000".
    void responseTaken(const QString &dados, const QString &controle);
    // A delivered approval the client never read, removed from path_out: to be undone.
    void responseWithdrawn(const QString &dados);
    // Answers cannot be delivered (`problem` says what and where), or can again (empty).
    void deliveryProblem(const QString &problem);
    // Delivered, or settled: the next request may be taken.
    void requestFinished();

private:
    enum class Stage {
        Idle,       // nothing held
        Telling,    // claimed, its status file on its way (a retry timer runs)
        Running,    // the library's part
        Delivering, // decided; the response file on its way
    };

    QString claimPath() const;
    QString fatePath() const;
    QString responsePath() const;
    QString temporaryPath() const;
    bool markDelivering();
    bool isSettlement(const QString &header) const;
    bool newerRequestWaits() const;

public:
    // After handOver() and the pause that follows it: writes the status file, then
    // startTefProcess(), or sets the request aside.
    void tellStatus();

private:
    bool writeStatus(bool report);
    bool clientStillWaits() const;
    void setAside(const QString &why);
    bool saveFate(const char *estado, const QString &document, const QString &response,
                  const QString &outcome);
    QString statusText(const QString &document) const;
    void taken();
    void settlePrevious(const QString &next);
    void withdraw(const QString &why);
    void deliver();
    bool writeResponse(bool report);
    void retryDelivery();
    void delivered();
    void finish();
    QDateTime writtenAt(const QString &fileName) const;
    QString summaryHead(const QString &document) const;
    QString elapsed() const;
    void measureClock();

    const QString m_pathIn;
    const QString m_pathOut;
    const QString m_fileReq;
    const QString m_fileResp;
    const QString m_stateDirectory;
    const ProtocoloSitef &m_protocolo;
    const int m_produto;
    QTextCodec *m_codec;
    Log m_log;

    Stage m_stage = Stage::Idle;
    bool m_claimHeld = false;
    bool m_recoveredClaim = false; // the claim was found at start
    bool m_quiet = false;          // no status for it: its client has moved on
    QString m_document;            // the request
    QString m_status;              // its status file's text
    QString m_response;            // the response text once decided; null before
    QString m_outcome;             // the response document it was built from
    QDateTime m_deadline;          // by when the client must have its status
    QElapsedTimer m_sinceClaim;    // for the summary line; invalid for an answer recovered at start
    // The last response delivered and not known to be taken yet.
    QString m_deliveredDocument;
    QString m_deliveredResponse;
    QString m_deliveredOutcome;

    bool m_markedDelivering = false; // the fate file says the response may be in path_out
    QTimer m_retryTimer;
    int m_retryIntervalMs = 0;
    bool m_problemTold = false;

    // How far the request directory's clock is ahead of ours (a share's server), in ms.
    qint64 m_clockSkewMs = 0;
    QDateTime m_startedAt;
};
