#include "exchange/MonitoraDiretorio.h"

#include "base/Pause.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTextCodec>

#include <algorithm>
#include <utility>

MonitoraDiretorio *MonitoraDiretorio::s_instance = nullptr;

namespace {
constexpr int kRetryDelayMs = 250;
constexpr int kRewatchIntervalMs = 3000;
constexpr int kMibUtf8 = 106;

void destroyAtExit() {
    MonitoraDiretorio::destroyInstance();
}
} // namespace

MonitoraDiretorio *MonitoraDiretorio::instance(const QString &configDirectory) {
    if (s_instance)
        return s_instance;

    s_instance = new MonitoraDiretorio(configDirectory);
    s_instance->m_watcher = new QFileSystemWatcher(s_instance);
    QObject::connect(s_instance->m_watcher, SIGNAL(directoryChanged(QString)), s_instance,
                     SLOT(slotDiretorioAtualizado(QString)));
    // Runs while the application object is torn down, the last moment Qt objects may go.
    qAddPostRoutine(destroyAtExit);
    return s_instance;
}

void MonitoraDiretorio::destroyInstance() {
    if (!s_instance)
        return;
    qDebug() << "[MonitoraDiretorio] Instância destruída...";
    qRemovePostRoutine(destroyAtExit);
    delete s_instance->m_watcher;
    s_instance->m_watcher = nullptr;
    delete s_instance;
    s_instance = nullptr;
}

MonitoraDiretorio::MonitoraDiretorio(const QString &configDirectory)
    : m_config(configDirectory)
    , m_pathIn(m_config.getPathIn())
    , m_pathOut(m_config.getPathOut())
    , m_fileReq(m_config.getFileReq())
    , m_fileResp(m_config.getFileResp())
    , m_produto(m_config.getProdutoTef())
    , m_codec(QTextCodec::codecForName(m_config.getCodificacao().toLatin1()))
    , m_windows1252(QTextCodec::codecForName("windows-1252")) {
    m_log.info("[MonitoraDiretorio] Produto TEF configurado: ", m_produto);
    if (!m_codec)
        m_codec = QTextCodec::codecForMib(kMibUtf8);
    if (m_codec->mibEnum() != kMibUtf8)
        m_log.info(QStringLiteral("[MonitoraDiretorio] Codificação dos arquivos: ") +
                   QString::fromLatin1(m_codec->name()));
    if (m_config.getCompatibilidade() == QLatin1String("tefdial")) {
        m_protocolo.setCompatibilidade(ProtocoloSitef::Compatibilidade::TefDial);
        m_log.info("[MonitoraDiretorio] Respostas no formato TEF Dial");
    }

    m_writeRetryTimer.setSingleShot(true);
    connect(&m_writeRetryTimer, &QTimer::timeout, this, &MonitoraDiretorio::retryWrites);

    m_rewatchTimer.setInterval(Pause::scaled(kRewatchIntervalMs));
    connect(&m_rewatchTimer, &QTimer::timeout, this, [this] {
        if (QFileInfo(m_pathIn).isDir())
            addObservadorDiretorio();
    });
}

MonitoraDiretorio::~MonitoraDiretorio() = default;

MonitoraDiretorio::FileStamp MonitoraDiretorio::fileStamp(const QString &fileName) {
    const QFileInfo info(fileName);
    return {info.lastModified(), info.size()};
}

QStringList MonitoraDiretorio::listing(const QString &path) {
    return QDir(path).entryList(QDir::NoDotAndDotDot | QDir::AllDirs | QDir::Files, QDir::DirsFirst);
}

void MonitoraDiretorio::addObservadorDiretorio() {
    if (m_stopped)
        return;
    if (!m_leftoverDocument.isNull()) {
        // Taken before the last stop and not finished: carried out before anything new.
        handOver(std::exchange(m_leftoverDocument, QString()));
        return;
    }
    m_log.debug(QStringLiteral("[MonitoraDiretorio] Monitoramento iniciando em: ") + m_pathIn);

    if (!m_watcher->addPath(m_pathIn)) {
        m_log.critical("[MonitoraDiretorio] Caminho especificado para monitoramento não existe");
        // A directory that is missing now (or was removed) is watched as soon as it exists.
        if (!m_watcher->directories().contains(m_pathIn) && !m_rewatchTimer.isActive())
            m_rewatchTimer.start();
        return;
    }
    m_rewatchTimer.stop();
    if (!QFileInfo(m_pathIn).isDir())
        return;

    m_snapshot.insert(m_pathIn, listing(m_pathIn));
    m_startListing = m_snapshot.value(m_pathIn);

    for (int i = 0; i < m_startListing.size(); ++i) {
        if (m_startListing.at(i).compare(m_fileReq, Qt::CaseInsensitive) != 0)
            continue;
        if (m_failedReads >= kMaxReadAttempts) {
            if (fileStamp(m_pathIn + QLatin1Char('/') + m_startListing.at(i)) == m_abandonedStamp)
                break; // given up on this file as it is; it is tried again once it changes
            m_failedReads = 0;
        }
        m_pendingRequest = true;
        m_pendingName = m_startListing.at(i);
        m_startListing.clear();
        slotDiretorioAtualizado(m_pathIn);
    }
}

void MonitoraDiretorio::stopWatching() {
    m_stopped = true;
    m_rewatchTimer.stop();
    m_watcher->removePath(m_pathIn);
    m_log.info("[MonitoraDiretorio] Monitoramento encerrado");
}

void MonitoraDiretorio::slotDiretorioAtualizado(QString path) {
    m_watcher->removePath(m_pathIn);
    if (m_stopped)
        return;

    const QStringList before = m_snapshot.value(path);
    const QStringList now = listing(path);
    QStringList added;
    for (const QString &name : now)
        if (!before.contains(name))
            added << name;
    QStringList deleted;
    for (const QString &name : before)
        if (!now.contains(name))
            deleted << name;
    m_snapshot.insert(path, now);

    QString requestName;
    if (!added.isEmpty() && added.first().compare(m_fileReq, Qt::CaseInsensitive) == 0) {
        requestName = added.first();
        m_failedReads = 0; // a newly created file gets a fresh set of attempts
    } else if (m_pendingRequest) {
        requestName = m_pendingName.isEmpty() ? m_fileReq : m_pendingName;
    }

    if (!requestName.isEmpty()) {
        if (!readRequest(path + QLatin1Char('/') + requestName))
            return;
    } else {
        if (added.size() > 1)
            m_log.debug(QStringLiteral("[MonitoraDiretorio] novo arquivo na posição 1: ") + added.first());
        signal_to_add_addObservadorDiretorio();
    }

    if (!deleted.isEmpty())
        m_log.info(QStringLiteral("[MonitoraDiretorio] Arquivo deletado ") + deleted.first());
}

bool MonitoraDiretorio::readRequest(const QString &fileName) {
    Pause::sleep(60);

    QString reason;
    const QString refused = refusedRequest(fileName, &reason);
    if (!refused.isNull()) {
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Arquivo ") + fileName +
                       QStringLiteral(" recusado: ") + reason);
        const QFileInfo info(fileName);
        if (info.isSymLink() || info.isDir()) {
            // Nothing to take: answered where it stands. A link goes, never its target; what
            // cannot be removed is left alone until it changes.
            dropPendingWrites();
            handOver(refused);
            if (!QFile::remove(fileName) && (QFileInfo::exists(fileName) || QFileInfo(fileName).isSymLink()))
                abandon(fileName);
            return true;
        }
        if (!claim(fileName))
            return false;
        handOver(refused);
        return true;
    }

    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Impossível abrir arquivo ") + fileName +
                       QLatin1Char('\n'));
        m_log.info(file.errorString());
        m_log.info(fileName);
        retryLater(fileName);
        return false;
    }
    const QByteArray bytes = file.read(kMaxRequestBytes);
    file.close();
    if (bytes.isEmpty()) {
        m_log.debug(QStringLiteral("[MonitoraDiretorio] Arquivo ") + m_fileReq + QStringLiteral(" vazio"));
        retryLater(fileName);
        return false;
    }
    bool windows1252 = false;
    const QString text = decodeRequest(bytes, &windows1252);
    // Some sales applications write the file in more than one go: without its last line it
    // is most likely still being written, so come back for the rest.
    if (m_failedReads < kMaxIncompleteReads && !hasFinalLine(text)) {
        m_log.debug(QStringLiteral("[MonitoraDiretorio] Arquivo ") + m_fileReq +
                    QStringLiteral(" incompleto"));
        retryLater(fileName);
        return false;
    }
    if (!claim(fileName))
        return false;
    // What was taken is what runs, should the file have changed since it was read.
    const QByteArray claimed = readClaim();
    const QString request = claimed.isEmpty() ? text : decodeRequest(claimed, &windows1252);
    if (windows1252)
        m_log.info(QStringLiteral("[MonitoraDiretorio] Arquivo ") + m_fileReq +
                   QStringLiteral(" não é UTF-8 válido; lido como Windows-1252"));
    m_log.debug(QStringLiteral("[MonitoraDiretorio] Dados do arquivo lido: ") + request);

    handOver(m_protocolo.parseRequest(request));
    return true;
}

// What Windows calls a link (QFile::link makes one there) is a file of its own that file
// functions never follow; taken as a request it would only be read as garbage.
bool MonitoraDiretorio::isShortcut(const QString &fileName) {
    static const QByteArray header("\x4c\0\0\0\x01\x14\x02\0\0\0\0\0\xc0\0\0\0\0\0\0\x46", 20);
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) && file.read(header.size()) == header;
}

// A file that is not a plain request of a sane size is answered as an invalid request
// without being followed or read whole: the document for it, or a null text for a request
// to read as usual.
QString MonitoraDiretorio::refusedRequest(const QString &fileName, QString *reason) {
    const QFileInfo info(fileName);
    QString text;
    if (info.isSymLink()) {
        *reason = QStringLiteral("é um link simbólico");
    } else if (!info.isFile()) {
        *reason = QStringLiteral("não é um arquivo comum");
    } else if (info.size() > kMaxRequestBytes) {
        *reason = QStringLiteral("maior que %1 bytes").arg(kMaxRequestBytes);
        // Its beginning still names the request, so the status file can match it.
        QFile file(fileName);
        if (file.open(QIODevice::ReadOnly)) {
            bool windows1252 = false;
            text = decodeRequest(file.read(kMaxRequestBytes), &windows1252);
        }
    } else if (isShortcut(fileName)) { // a regular file: opening it cannot block
        *reason = QStringLiteral("é um atalho do Windows");
    } else {
        return QString();
    }
    QJsonObject document = QJsonDocument::fromJson(m_protocolo.parseRequest(text).toUtf8()).object();
    document.insert(QStringLiteral("msg_erro"),
                    QStringLiteral("Arquivo %1 recusado: %2").arg(m_fileReq, *reason));
    return QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Compact));
}

void MonitoraDiretorio::handOver(const QString &document) {
    m_pendingRequest = false;
    m_pendingName.clear();
    m_failedReads = 0;
    m_claim.document = document;
    emit confJson(document);
    Pause::sleep(1000);
    emit startTefProcess();
    signalToWriteSTS(document);
}

// Left alone until it changes (modification time or size): taken again as it is, it would
// fail again, or run twice.
void MonitoraDiretorio::abandon(const QString &fileName) {
    m_log.critical(QStringLiteral("[MonitoraDiretorio] Impossível remover arquivo ") + fileName);
    m_failedReads = kMaxReadAttempts;
    m_abandonedStamp = fileStamp(fileName);
}

// The text ends at the first NUL byte. Under UTF-8 a file with invalid bytes is read as
// Windows-1252, the encoding most sales applications that do not write UTF-8 use.
QString MonitoraDiretorio::decodeRequest(QByteArray bytes, bool *windows1252) const {
    *windows1252 = false;
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    if (m_codec->mibEnum() != kMibUtf8)
        return m_codec->toUnicode(bytes);
    QTextCodec::ConverterState state;
    const QString text = m_codec->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars == 0 && state.remainingChars == 0)
        return text;
    *windows1252 = true;
    return m_windows1252->toUnicode(bytes);
}

// The line a sales application writes last, with a value.
bool MonitoraDiretorio::hasFinalLine(const QString &text) {
    const QVector<QStringRef> lines = text.splitRef(QLatin1Char('\n'));
    return std::any_of(lines.cbegin(), lines.cend(), [](const QStringRef &line) {
        const int equals = line.indexOf(QLatin1Char('='));
        return equals >= 0 && line.left(equals).trimmed() == QLatin1String("999-999") &&
               !line.mid(equals + 1).trimmed().isEmpty();
    });
}

// Watching again at once would find the same unreadable file and fail again without
// end; come back from the event loop a little later, a bounded number of times.
void MonitoraDiretorio::retryLater(const QString &fileName) {
    ++m_failedReads;
    m_pendingRequest = false;
    m_pendingName.clear();
    if (m_failedReads >= kMaxReadAttempts) {
        m_abandonedStamp = fileStamp(fileName);
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Arquivo ") + m_fileReq +
                       QStringLiteral(" ignorado após %1 tentativas de leitura").arg(m_failedReads));
        signal_to_add_addObservadorDiretorio();
        return;
    }
    QTimer::singleShot(Pause::scaled(kRetryDelayMs), this,
                       &MonitoraDiretorio::signal_to_add_addObservadorDiretorio);
}

void MonitoraDiretorio::signal_to_add_addObservadorDiretorio() {
    m_log.info("[MonitoraDiretorio] FINALIZANDO OPERACAO TEF");
    addObservadorDiretorio();
}

void MonitoraDiretorio::signalToWriteSTS(QString info_json) {
    m_log.debug(QStringLiteral("[MonitoraDiretorio] Json para criação do arquivo de status: ") + info_json);

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(info_json.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError) {
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Erro na criação do arquivo STS: ") +
                       error.errorString());
        return;
    }
    const QString content = statusText(document.object());

    m_pendingStatus.clear();
    if (!writeStatusFile(content, true)) {
        m_pendingStatus = content;
        scheduleWriteRetry();
    }
}

QString MonitoraDiretorio::statusText(const QJsonObject &request) const {
    return QStringList{
               m_protocolo.lineFormat.arg(m_protocolo.TAG_000_000,
                                          request.value(QLatin1String("header")).toString()),
               m_protocolo.lineFormat.arg(m_protocolo.TAG_001_000, request.value(QLatin1String("parametros"))
                                                                       .toObject()
                                                                       .value(QLatin1String("identificacao"))
                                                                       .toString()),
               m_protocolo.lineFormat.arg(m_protocolo.TAG_999_999, QStringLiteral("0"))}
               .join(m_protocolo.lineSeparator) +
           m_protocolo.lineSeparator;
}

// One attempt; `report` logs a failure (the first attempt does, retries stay quiet).
bool MonitoraDiretorio::writeStatusFile(const QString &content, bool report) {
    // Written beside its final name and renamed into place, so that a sales application
    // polling for it never reads half a file.
    const QString name = m_pathOut + QLatin1Char('/') + m_fileResp;
    const QByteArray bytes = m_codec->fromUnicode(content);
    QSaveFile file(name);
    // Where no file can be created beside it (permissions of a share) but it can be written.
    file.setDirectWriteFallback(true);
    const bool opened = file.open(QIODevice::WriteOnly);
    bool written = opened && file.write(bytes) == bytes.size() && file.commit();
    if (!written && report) {
        if (opened)
            m_log.critical(QStringLiteral("[MonitoraDiretorio] Impossível escrever no arquivo STS: ") +
                           file.errorString());
        else
            m_log.debug("[MonitoraDiretorio] Impossível escrever no arquivo STS");
    }
    // A status file that the sales application keeps open cannot be replaced on Windows (a
    // sharing violation), but may still be written: after a few attempts try that.
    if (!written && m_writeAttempts >= kReplaceAttempts && writeInPlace(name, bytes)) {
        m_log.info(QStringLiteral("[MonitoraDiretorio] Arquivo de status gravado diretamente em ") + name);
        written = true;
    }
    if (written)
        m_log.info(QStringLiteral("[MonitoraDiretorio] Arquivo status [") + name + QStringLiteral("]: ") +
                   content);
    return written;
}

bool MonitoraDiretorio::writeInPlace(const QString &fileName, const QByteArray &content) {
    QFile target(fileName);
    return target.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           target.write(content) == content.size() && target.flush();
}

void MonitoraDiretorio::processResponse(QString dados) {
    const QJsonObject response = QJsonDocument::fromJson(dados.toUtf8()).object();
    const QString header = response.value(QLatin1String("header")).toString();
    if (header == m_protocolo.OP_CNF || header == m_protocolo.OP_NCN || header == m_protocolo.OP_ATV) {
        m_log.info(QStringLiteral("[MonitoraDiretorio] Operação ") + header +
                   QStringLiteral(" não requer arquivo intpos.001"));
        // The status file was its answer; the settlement is done.
        releaseClaim();
        return;
    }

    // Opened before anything else, so that a failure is told where it happens.
    QFile temp(m_pathOut + QStringLiteral("/arquivo_tef.tmp"));
    const bool statusWritten = m_pendingStatus.isNull();
    if (statusWritten)
        openResponseTemp(temp, true);

    if (m_claim.response.isNull())
        recordOutcome(dados);
    m_log.info(QStringLiteral("[MonitoraDiretorio] Formato SiTef: ") + m_claim.response);
    deliverResponse(temp);
}

void MonitoraDiretorio::deliverResponse(QFile &temp) {
    m_pendingResponse = m_codec->fromUnicode(m_claim.response);
    m_responsePending = true;
    // Never before the status file of the same request (unless that one cannot be written).
    if (m_pendingStatus.isNull() && writeResponseFile(temp, m_pendingResponse, true)) {
        m_responsePending = false;
        m_pendingResponse.clear();
        responseDelivered();
        return;
    }
    scheduleWriteRetry();
}

QString MonitoraDiretorio::buildResponse(const QString &dados) const {
    switch (m_produto) {
    case 0:
        return m_protocolo.buildSitefResponse(dados);
    case 1:
        return m_protocolo.buildBridgeResponse(dados);
    case 2:
        return m_protocolo.buildTefResponse(dados);
    default:
        m_log.critical("Produto TEF inválido");
        return QString();
    }
}

bool MonitoraDiretorio::openResponseTemp(QFile &temp, bool report) {
    if (temp.open(QIODevice::ReadWrite | QIODevice::Truncate))
        return true;
    if (report) {
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Erro ao abrir arquivo de resposta ") +
                       temp.fileName());
        m_log.info(temp.errorString());
    }
    return false;
}

// One attempt through `temp`, which the caller has tried to open; `report` logs a failure
// (the first attempt does, retries stay quiet).
bool MonitoraDiretorio::writeResponseFile(QFile &temp, const QByteArray &content, bool report) {
    const QString tempName = temp.fileName();
    const QString finalName = m_pathOut + QLatin1Char('/') + m_fileReq;
    if (!temp.isOpen()) {
        // Nothing can be created beside it, but the response file itself may be written.
        if (m_writeAttempts < kReplaceAttempts || !writeInPlace(finalName, content))
            return false;
        m_log.info(QStringLiteral("[MonitoraDiretorio] Arquivo de resposta gravado diretamente em ") +
                   finalName);
        return true;
    }
    const qint64 written = temp.write(content);
    // A short write (a full disk) must not reach the sales application as its answer.
    const bool whole = written == content.size() && temp.flush();
    temp.close();
    if (report)
        m_log.info(QStringLiteral("[MonitoraDiretorio] Quantidade de bytes gravados no arquivo ") + tempName +
                   QStringLiteral(": ") + QString::number(written));
    if (!whole)
        return false;

    if (QFileInfo::exists(finalName))
        QFile::remove(finalName);
    if (QFile::rename(tempName, finalName)) {
        m_log.info(QStringLiteral("[MonitoraDiretorio] Arquivo renomeado com sucesso para ") + finalName);
        return true;
    }
    if (report)
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Falha ao renomear arquivo para ") + finalName);
    // A file the sales application keeps open can be neither removed nor replaced on Windows
    // (a sharing violation) while it may still be written; after a few attempts try that.
    if (m_writeAttempts < kReplaceAttempts || !writeInPlace(finalName, content))
        return false;
    QFile::remove(tempName);
    m_log.info(QStringLiteral("[MonitoraDiretorio] Arquivo de resposta gravado diretamente em ") + finalName);
    return true;
}

void MonitoraDiretorio::scheduleWriteRetry() {
    if (m_writeRetryTimer.isActive())
        return;
    m_log.info(QStringLiteral("[MonitoraDiretorio] Nova tentativa de gravação em ") + m_pathOut);
    m_writeRetryTimer.start(Pause::scaled(kRetryDelayMs));
}

void MonitoraDiretorio::retryWrites() {
    ++m_writeAttempts;
    if (!m_pendingStatus.isNull() && writeStatusFile(m_pendingStatus, false))
        m_pendingStatus.clear();
    const bool statusFirst = !m_pendingStatus.isNull() && m_writeAttempts < kStatusFirstAttempts;
    if (!statusFirst && m_responsePending) {
        QFile temp(m_pathOut + QStringLiteral("/arquivo_tef.tmp"));
        openResponseTemp(temp, false);
        if (writeResponseFile(temp, m_pendingResponse, false)) {
            m_responsePending = false;
            m_pendingResponse.clear();
            responseDelivered();
        }
    }
    if (m_pendingStatus.isNull() && !m_responsePending) {
        m_writeAttempts = 0;
        return;
    }
    if (m_writeAttempts >= kMaxWriteAttempts) {
        // A decided answer stays in its claim: the next start delivers it again.
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Gravação em %1 abandonada após %2 tentativas")
                           .arg(m_pathOut)
                           .arg(m_writeAttempts));
        m_pendingStatus.clear();
        m_pendingResponse.clear();
        m_responsePending = false;
        m_writeAttempts = 0;
        return;
    }
    m_writeRetryTimer.start(Pause::scaled(kRetryDelayMs));
}

void MonitoraDiretorio::finishPendingWrites() {
    m_writeRetryTimer.stop();
    // No later attempt will come: a file that cannot be replaced is written in place at once,
    // and the response no longer waits for a status file that cannot be written.
    m_writeAttempts = qMax(m_writeAttempts, kStatusFirstAttempts);
    for (int i = 0; i < kShutdownWriteAttempts && (!m_pendingStatus.isNull() || m_responsePending); ++i) {
        if (i > 0)
            Pause::sleep(kRetryDelayMs);
        retryWrites();
        m_writeRetryTimer.stop();
    }
    if (!m_pendingStatus.isNull() || m_responsePending)
        m_log.critical(
            QStringLiteral("[MonitoraDiretorio] Gravação em %1 abandonada no encerramento").arg(m_pathOut));
}

// What is still pending belongs to an earlier request, which its sales application no
// longer waits for: its answer is never delivered now.
void MonitoraDiretorio::dropPendingWrites() {
    if (!m_pendingStatus.isNull() || m_responsePending)
        m_log.info("[MonitoraDiretorio] Gravação pendente descartada");
    if (m_claim.held)
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Resposta não entregue descartada: ") +
                       describe(m_claim.document));
    releaseClaim();
    m_writeRetryTimer.stop();
    m_pendingStatus.clear();
    m_pendingResponse.clear();
    m_responsePending = false;
    m_writeAttempts = 0;
}
