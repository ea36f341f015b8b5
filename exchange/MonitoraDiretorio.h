#pragma once

#include "base/ConfigTef.h"
#include "base/Log.h"
#include "exchange/ProtocoloSitef.h"

#include <QDateTime>
#include <QHash>
#include <QLockFile>
#include <QObject>
#include <QPair>
#include <QStringList>
#include <QTimer>

#include <memory>

class QFile;
class QJsonObject;
class QFileSystemWatcher;
class QTextCodec;

// The service's side of the file exchange: watches the request directory, hands each
// request to the controller, answers with the status file and writes the response file.
// One per process; everything runs on the main thread.
class MonitoraDiretorio : public QObject {
    Q_OBJECT

public:
    // Creates the singleton on first use. `configDirectory` (where config_tef.json lives)
    // only matters then; empty means the executable's directory.
    static MonitoraDiretorio *instance(const QString &configDirectory = QString());
    // Deletes the singleton; the process-exit hook and tests use it.
    static void destroyInstance();

    void addObservadorDiretorio();

    // Shutdown: from now on no request is handed over (one that arrives stays in the
    // request directory for the next start); answers of the operation still running are
    // written as usual.
    void stopWatching();
    // Shutdown, after the last answer: makes the writes still pending a few last attempts,
    // in place where a file cannot be replaced. Blocks for at most kShutdownWriteAttempts pauses.
    void finishPendingWrites();

    // A request is taken by renaming it to this name in path_in before it is read; the claim
    // goes only once the request's fate is written (its response delivered, its settlement
    // done). A claim found at start is a request whose stop came first.
    static constexpr const char *kClaimName = "arquivo_tef.em_andamento";
    // Held in path_in while the service runs: a second service on the same directory leaves
    // the first one's claim alone.
    static constexpr const char *kLockName = "arquivo_tef.lock";

    // At start, before watching: deals with a claim left by an earlier run. An answer decided
    // then is delivered again; a confirmation, undo or "ATV" is handed over again once watching
    // starts. Returns the request document of a claim whose outcome is unknown (an operation
    // that was running), to be answered with answerUnknown(); otherwise an empty text.
    QString recoverClaim();
    // Answers the claim recoverClaim() returned with `response`, a response document that
    // does not approve.
    void answerUnknown(const QString &response);

    // A request file that is empty or cannot be opened is retried this many times,
    // 250 ms apart, before it is left alone until it is written again.
    static constexpr int kMaxReadAttempts = 20;
    // A request without its final "999-999" line is read again, 250 ms apart, this many
    // times (it is most likely still being written) before it is taken as it is.
    static constexpr int kMaxIncompleteReads = 8;
    // A status or response file that cannot be written is tried again, 250 ms apart, this
    // many times; from attempt kReplaceAttempts on, a response file that cannot be replaced
    // is overwritten in place.
    static constexpr int kMaxWriteAttempts = 240;
    static constexpr int kReplaceAttempts = 4;
    // The response waits for its status file no longer than sales applications wait for the
    // status (7 s): a status file that cannot be written must not hold the answer back.
    static constexpr int kStatusFirstAttempts = 28;
    static constexpr int kShutdownWriteAttempts = 8;
    // Requests are a few hundred bytes; a larger file is refused unread.
    static constexpr qint64 kMaxRequestBytes = 64 * 1024;

signals:
    void confJson(QString json);
    void startTefProcess();
    // A response file was delivered, or is delivered again after a restart: the client may
    // have read it. `controle` is its "027-000" (empty when none).
    void responseCommitted(const QString &document, const QString &controle);

public slots:
    void slotDiretorioAtualizado(QString path);
    void processResponse(QString dados);
    void signal_to_add_addObservadorDiretorio();
    void signalToWriteSTS(QString info_json);
    // The controller's outcome, decided before its closing pause: written into the claim at
    // once, delivered with processResponse().
    void recordOutcome(const QString &dados);

private:
    explicit MonitoraDiretorio(const QString &configDirectory);
    ~MonitoraDiretorio() override;

    static QStringList listing(const QString &path);
    bool readRequest(const QString &fileName);
    QString refusedRequest(const QString &fileName, QString *reason);
    static bool isShortcut(const QString &fileName);
    void handOver(const QString &document);
    bool claim(const QString &fileName);
    void releaseClaim();
    void responseDelivered();
    void abandon(const QString &fileName);
    QByteArray readClaim() const;
    QString claimPath() const;
    void deliverResponse(QFile &temp);
    QString buildResponse(const QString &dados) const;
    QString statusText(const QJsonObject &request) const;
    static QString describe(const QString &document);
    void retryLater(const QString &fileName);
    QString decodeRequest(QByteArray bytes, bool *windows1252) const;
    static bool hasFinalLine(const QString &text);

    bool writeStatusFile(const QString &content, bool report);
    bool openResponseTemp(QFile &temp, bool report);
    bool writeResponseFile(QFile &temp, const QByteArray &content, bool report);
    bool writeInPlace(const QString &fileName, const QByteArray &content);
    void scheduleWriteRetry();
    void retryWrites();
    void dropPendingWrites();

    using FileStamp = QPair<QDateTime, qint64>;
    static FileStamp fileStamp(const QString &fileName);

    QFileSystemWatcher *m_watcher = nullptr;
    QHash<QString, QStringList> m_snapshot;
    ProtocoloSitef m_protocolo;
    ConfigTef m_config;
    QStringList m_startListing;
    bool m_pendingRequest = false;
    Log m_log;
    QString m_pathIn;
    QString m_pathOut;
    QString m_fileReq;
    QString m_fileResp;
    int m_produto;

    // Actual name of a request file found at start of watching (may differ in case).
    QString m_pendingName;
    // Failed reads of the current request file; past the limit it is not picked up at
    // start of watching any more until it changes (modification time or size).
    int m_failedReads = 0;
    FileStamp m_abandonedStamp;
    // Re-checks a request directory that is missing or was removed.
    QTimer m_rewatchTimer;
    bool m_stopped = false;

    // The request taken (renamed to kClaimName) and what is known of its fate.
    struct Claim {
        bool held = false;
        QString document; // the request document
        QString response; // the response text once decided; null before
        QString outcome;  // the response document it was built from
    };
    Claim m_claim;
    // A confirmation or undo found claimed at start: handed over when watching starts.
    QString m_leftoverDocument;
    std::unique_ptr<QLockFile> m_lock;

    // Encoding of the request, status and response files ("codificacao").
    QTextCodec *m_codec;
    QTextCodec *m_windows1252;

    // Status and response files of the current request not written yet (the response
    // directory missing or not writable, the response file held by the sales application),
    // retried from the event loop; the status file always goes first.
    QString m_pendingStatus; // null: none
    QByteArray m_pendingResponse;
    bool m_responsePending = false;
    int m_writeAttempts = 0;
    QTimer m_writeRetryTimer;

    static MonitoraDiretorio *s_instance;
};
