#pragma once

#include "base/ConfigTef.h"
#include "base/Log.h"
#include "exchange/ProtocoloSitef.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPair>
#include <QStringList>
#include <QTimer>

class QFile;
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
    // Whether the request handed over last still waits for its controller's answer.
    bool awaitingResponse() const { return m_awaitingResponse; }

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

public slots:
    void slotDiretorioAtualizado(QString path);
    void processResponse(QString dados);
    void signal_to_add_addObservadorDiretorio();
    void signalToWriteSTS(QString info_json);

private:
    explicit MonitoraDiretorio(const QString &configDirectory);
    ~MonitoraDiretorio() override;

    static QStringList listing(const QString &path);
    bool readRequest(const QString &fileName);
    QString refusedRequest(const QString &fileName, QString *reason);
    void handOver(const QString &fileName, const QString &document);
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
    bool m_awaitingResponse = false;

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
