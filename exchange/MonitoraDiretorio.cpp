#include "exchange/MonitoraDiretorio.h"

#include "app/Pause.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

MonitoraDiretorio *MonitoraDiretorio::s_instance = nullptr;

namespace {
constexpr int kRetryDelayMs = 250;
constexpr int kRewatchIntervalMs = 3000;

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
    , m_produto(m_config.getProdutoTef()) {
    m_log.info("[MonitoraDiretorio] Produto TEF configurado: ", m_produto);

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

void MonitoraDiretorio::slotDiretorioAtualizado(QString path) {
    m_watcher->removePath(m_pathIn);

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

    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Impossível abrir arquivo ") + fileName +
                       QLatin1Char('\n'));
        m_log.info(file.errorString());
        m_log.info(fileName);
        retryLater(fileName);
        return false;
    }
    QByteArray bytes = file.readAll();
    file.close();
    if (bytes.isEmpty()) {
        m_log.debug(QStringLiteral("[MonitoraDiretorio] Arquivo ") + m_fileReq + QStringLiteral(" vazio"));
        retryLater(fileName);
        return false;
    }
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    const QString text = QString::fromUtf8(bytes);
    m_log.debug(QStringLiteral("[MonitoraDiretorio] Dados do arquivo lido: ") + text);

    const QString document = m_protocolo.parseRequest(text);
    m_pendingRequest = false;
    m_pendingName.clear();
    m_failedReads = 0;

    emit confJson(document);
    Pause::sleep(1000);
    emit startTefProcess();
    QFile::remove(fileName);
    signalToWriteSTS(document);
    return true;
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
    const QJsonObject request = document.object();
    const QString content =
        QStringList{
            m_protocolo.lineFormat.arg(m_protocolo.TAG_000_000,
                                       request.value(QLatin1String("header")).toString()),
            m_protocolo.lineFormat.arg(m_protocolo.TAG_001_000, request.value(QLatin1String("parametros"))
                                                                    .toObject()
                                                                    .value(QLatin1String("identificacao"))
                                                                    .toString()),
            m_protocolo.lineFormat.arg(m_protocolo.TAG_999_999, QStringLiteral("0"))}
            .join(m_protocolo.lineSeparator) +
        m_protocolo.lineSeparator;

    // Written beside its final name and renamed into place, so that a sales application
    // polling for it never reads half a file.
    const QString name = m_pathOut + QLatin1Char('/') + m_fileResp;
    QSaveFile file(name);
    const bool opened = file.open(QIODevice::WriteOnly);
    if (!opened)
        m_log.debug("[MonitoraDiretorio] Impossível escrever no arquivo STS");
    else
        file.write(content.toUtf8());
    m_log.info(QStringLiteral("[MonitoraDiretorio] Arquivo status [") + name + QStringLiteral("]: ") +
               content);
    if (opened && !file.commit())
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Impossível escrever no arquivo STS: ") +
                       file.errorString());
}

void MonitoraDiretorio::processResponse(QString dados) {
    const QJsonObject response = QJsonDocument::fromJson(dados.toUtf8()).object();
    const QString header = response.value(QLatin1String("header")).toString();
    if (header == m_protocolo.OP_CNF || header == m_protocolo.OP_NCN || header == m_protocolo.OP_ATV) {
        m_log.info(QStringLiteral("[MonitoraDiretorio] Operação ") + header +
                   QStringLiteral(" não requer arquivo intpos.001"));
        return;
    }

    const QString tempName = m_pathOut + QStringLiteral("/arquivo_tef.tmp");
    QFile temp(tempName);
    if (!temp.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Erro ao abrir arquivo de resposta ") + tempName);
        return;
    }

    QString content;
    switch (m_produto) {
    case 0:
        content = m_protocolo.buildSitefResponse(dados);
        break;
    case 1:
        content = m_protocolo.buildBridgeResponse(dados);
        break;
    case 2:
        content = m_protocolo.buildTefResponse(dados);
        break;
    default:
        m_log.critical("Produto TEF inválido");
        break;
    }
    m_log.info(QStringLiteral("[MonitoraDiretorio] Formato SiTef: ") + content);

    const qint64 written = temp.write(content.toUtf8());
    temp.close();
    m_log.info(QStringLiteral("[MonitoraDiretorio] Quantidade de bytes gravados no arquivo ") + tempName +
               QStringLiteral(": ") + QString::number(written));

    const QString finalName = m_pathOut + QLatin1Char('/') + m_fileReq;
    if (QFileInfo::exists(finalName))
        QFile::remove(finalName);
    if (QFile::rename(tempName, finalName))
        m_log.info(QStringLiteral("[MonitoraDiretorio] Arquivo renomeado com sucesso para ") + finalName);
    else
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Falha ao renomear arquivo para ") + finalName);
}
