#pragma once

#include "base/ConfigTef.h"
#include "base/Log.h"
#include "exchange/ProtocoloSitef.h"
#include "exchange/RequestFate.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPair>
#include <QStringList>
#include <QTimer>

class QFile;
class QJsonObject;
class QFileSystemWatcher;
class QTextCodec;

// The service's side of the file exchange: watches the request directory, reads and checks each
// request file, and hands it to the controller; what then happens to the request (its claim,
// status, answer, delivery and recovery) is RequestFate's. One per process; everything runs on
// the main thread.
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
    // Shutdown, after the last answer: a few last attempts at an answer still to be written.
    void finishPendingWrites() { m_fate.finishPendingWrites(); }

    // At start, before watching: deals with what an earlier run left (RequestFate::recover). A
    // confirmation, undo or "ATV" is handed over again once watching starts. Returns the request
    // document of a claim whose outcome is unknown (an operation that was running), to be
    // answered with answerUnknown(); otherwise an empty text.
    QString recoverClaim();
    // Answers the claim recoverClaim() returned with `response`, a response document that
    // does not approve.
    void answerUnknown(const QString &response);

    RequestFate &fate() { return m_fate; }
    QString pathIn() const { return m_pathIn; }
    QString pathOut() const { return m_pathOut; }

    // A request file that is empty or cannot be opened is retried this many times,
    // 250 ms apart, before it is left alone until it is written again.
    static constexpr int kMaxReadAttempts = 20;
    // A request without its final "999-999" line is read again, 250 ms apart, this many
    // times (it is most likely still being written) before it is taken as it is.
    static constexpr int kMaxIncompleteReads = 8;
    // Requests are a few hundred bytes; a larger file is refused unread.
    static constexpr qint64 kMaxRequestBytes = 64 * 1024;

signals:
    void confJson(QString json);
    void startTefProcess();
    // The client has the response: `document` is its document, `controle` its "027-000".
    void responseCommitted(const QString &document, const QString &controle);

public slots:
    void slotDiretorioAtualizado(QString path);
    void processResponse(QString dados);
    void signal_to_add_addObservadorDiretorio();
    // The controller's outcome, decided before its closing pause: on disk at once, delivered
    // with processResponse().
    void recordOutcome(const QString &dados) { m_fate.recordOutcome(dados); }

private:
    explicit MonitoraDiretorio(const QString &configDirectory);
    ~MonitoraDiretorio() override;

    static QStringList listing(const QString &path);
    bool readRequest(const QString &fileName);
    QString refusedRequest(const QString &fileName, QString *reason);
    static bool isShortcut(const QString &fileName);
    bool claim(const QString &fileName);
    void handOver(const QString &document);
    void abandon(const QString &fileName);
    void retryLater(const QString &fileName);
    QString decodeRequest(QByteArray bytes, bool *windows1252) const;
    static bool hasFinalLine(const QString &text);

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

    // Encoding of the request, status and response files ("codificacao").
    QTextCodec *m_codec;
    QTextCodec *m_windows1252;

    // A confirmation or undo found claimed at start: handed over when watching starts.
    QString m_leftoverDocument;
    // A claim found at start whose outcome is unknown: answered with answerUnknown().
    QString m_unknownDocument;
    // The controller runs from startTefProcess() until its finished(): nothing new is handed over.
    bool m_controllerRunning = false;
    RequestFate m_fate;

    static MonitoraDiretorio *s_instance;
};
