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
#include <QTextCodec>

#include <algorithm>
#include <utility>

MonitoraDiretorio *MonitoraDiretorio::s_instance = nullptr;

namespace {
constexpr int kRetryDelayMs = 250;
constexpr int kRewatchIntervalMs = 3000;
constexpr int kMibUtf8 = 106;
constexpr int kMibUtf16Be = 1013;
constexpr int kMibUtf16Le = 1014;
constexpr int kLoggedHeadBytes = 32;

bool startsWithUtf16Mark(const QByteArray &bytes) {
    return bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF");
}

// What the log shows of a request: its text, or for one that is not text (a NUL byte, control
// characters, bytes no encoding makes sense of) its size and first bytes, not kilobytes of garbage.
QString loggedRequest(const QByteArray &bytes, const QString &text) {
    const bool binary = (!startsWithUtf16Mark(bytes) && bytes.contains('\0')) ||
                        std::any_of(text.cbegin(), text.cend(), [](QChar c) {
                            const char16_t code = c.unicode();
                            return (code < 0x20 && code != u'\t' && code != u'\n' && code != u'\r') ||
                                   (code >= 0x7f && code < 0xa0) || code == QChar::ReplacementCharacter;
                        });
    if (!binary)
        return text;
    return QStringLiteral("%1 bytes, não é texto; início em hexadecimal: %2")
        .arg(bytes.size())
        .arg(QString::fromLatin1(bytes.left(kLoggedHeadBytes).toHex(' ')));
}

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
    , m_windows1252(QTextCodec::codecForName("windows-1252"))
    , m_fate(m_pathIn, m_pathOut, m_fileReq, m_fileResp, m_config.directory(), m_protocolo, m_produto,
             m_codec ? m_codec : QTextCodec::codecForMib(kMibUtf8)) {
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

    connect(&m_fate, &RequestFate::startTefProcess, this, [this] {
        m_controllerRunning = true;
        emit startTefProcess();
    });
    connect(&m_fate, &RequestFate::requestDropped, this,
            &MonitoraDiretorio::signal_to_add_addObservadorDiretorio);
    connect(&m_fate, &RequestFate::requestFinished, this, &MonitoraDiretorio::addObservadorDiretorio);
    connect(&m_fate, &RequestFate::responseTaken, this, &MonitoraDiretorio::responseCommitted);

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
    // With System: a FIFO or device under the request's name is noticed, and refused.
    return QDir(path).entryList(QDir::NoDotAndDotDot | QDir::AllDirs | QDir::Files | QDir::System,
                                QDir::DirsFirst);
}

void MonitoraDiretorio::addObservadorDiretorio() {
    // One request at a time: the next is taken once this one's answer is out and its controller
    // has ended. What arrives meanwhile waits in path_in and is found below.
    if (m_stopped || m_controllerRunning || !m_fate.idle())
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
    const QByteArray claimed = m_fate.readClaim(kMaxRequestBytes);
    const QString request = claimed.isEmpty() ? text : decodeRequest(claimed, &windows1252);
    if (windows1252)
        m_log.info(QStringLiteral("[MonitoraDiretorio] Arquivo ") + m_fileReq +
                   QStringLiteral(" não é UTF-8 válido; lido como Windows-1252"));
    m_log.debug(QStringLiteral("[MonitoraDiretorio] Dados do arquivo lido: ") +
                loggedRequest(claimed.isEmpty() ? bytes : claimed, request));

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

bool MonitoraDiretorio::claim(const QString &fileName) {
    if (m_fate.claim(fileName))
        return true;
    m_failedReads = kMaxReadAttempts;
    m_abandonedStamp = fileStamp(fileName);
    signal_to_add_addObservadorDiretorio();
    return false;
}

void MonitoraDiretorio::handOver(const QString &document) {
    m_pendingRequest = false;
    m_pendingName.clear();
    m_failedReads = 0;
    if (!m_fate.handOver(document))
        return;
    emit confJson(document);
    Pause::sleep(1000);
    m_fate.tellStatus();
}

// Left alone until it changes (modification time or size): taken again as it is, it would
// fail again, or run twice.
void MonitoraDiretorio::abandon(const QString &fileName) {
    m_log.critical(QStringLiteral("[MonitoraDiretorio] Impossível remover arquivo ") + fileName);
    m_failedReads = kMaxReadAttempts;
    m_abandonedStamp = fileStamp(fileName);
}

// The text ends at the first NUL. A UTF-16 byte order mark names the encoding whatever
// "codificacao" says. Under UTF-8 a file with invalid bytes is read as Windows-1252, the
// encoding most sales applications that do not write UTF-8 use.
QString MonitoraDiretorio::decodeRequest(QByteArray bytes, bool *windows1252) const {
    *windows1252 = false;
    if (startsWithUtf16Mark(bytes)) {
        QString text = QTextCodec::codecForMib(bytes.at(0) == '\xFF' ? kMibUtf16Le : kMibUtf16Be)
                           ->toUnicode(bytes.mid(2));
        const int end = text.indexOf(QChar(0));
        return end < 0 ? text : text.left(end);
    }
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
    const QVector<QStringRef> lines = ProtocoloSitef::requestLines(text);
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
    m_controllerRunning = false;
    addObservadorDiretorio();
}

void MonitoraDiretorio::processResponse(QString dados) {
    m_fate.processResponse(dados);
}

QString MonitoraDiretorio::recoverClaim() {
    if (!m_fate.recover())
        return QString();
    bool windows1252 = false;
    const QString document =
        m_protocolo.parseRequest(decodeRequest(m_fate.readClaim(kMaxRequestBytes), &windows1252));
    const QString header =
        QJsonDocument::fromJson(document.toUtf8()).object().value(QLatin1String("header")).toString();
    const QString told = RequestFate::describe(document);
    if (header == m_protocolo.OP_CNF || header == m_protocolo.OP_NCN || header == m_protocolo.OP_ATV) {
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Requisição interrompida pela parada, executada "
                                      "novamente: ") +
                       told);
        m_leftoverDocument = document;
        return QString();
    }
    m_log.critical(QStringLiteral("[MonitoraDiretorio] Requisição interrompida pela parada, resultado "
                                  "desconhecido: ") +
                   told);
    m_unknownDocument = document;
    return document;
}

void MonitoraDiretorio::answerUnknown(const QString &response) {
    m_fate.answerUnknown(std::exchange(m_unknownDocument, QString()), response);
}
