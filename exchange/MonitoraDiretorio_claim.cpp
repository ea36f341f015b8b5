// The fate of every request the monitor takes: the claim that takes it, the answer written
// into the claim before anyone is told, and what a start does with a claim left behind.
#include "exchange/MonitoraDiretorio.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>

namespace {

// Members of a claim whose answer is decided; the claim of an undecided request holds the
// request file as the sales application wrote it.
const QString kRequisicao = QStringLiteral("requisicao");
const QString kResposta = QStringLiteral("resposta");
const QString kDados = QStringLiteral("dados");

// A decided claim is a few kilobytes; anything much larger is not one of ours.
constexpr qint64 kMaxClaimBytes = 1024 * 1024;

QJsonObject objectOf(const QString &json) {
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

// The "027-000" line of a response text: what a confirmation may name the transaction by.
QString controlCodeOf(const QString &response) {
    for (const QStringRef &line : response.splitRef(QLatin1Char('\n'))) {
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals >= 0 && line.left(equals).trimmed() == QLatin1String("027-000"))
            return line.mid(equals + 1).trimmed().toString();
    }
    return QString();
}

} // namespace

// "CRT 1234": what a log line names a request by.
QString MonitoraDiretorio::describe(const QString &document) {
    const QJsonObject request = objectOf(document);
    return request.value(QLatin1String("header")).toString() + QLatin1Char(' ') +
           request.value(QLatin1String("parametros"))
               .toObject()
               .value(QLatin1String("identificacao"))
               .toString();
}

QString MonitoraDiretorio::claimPath() const {
    return m_pathIn + QLatin1Char('/') + QLatin1String(kClaimName);
}

// A rename inside path_in never replaces a file, so of two services that see one request only
// one takes it; what cannot be taken (held by another, no permission) is never run, and is left
// alone, watching again, until it changes.
bool MonitoraDiretorio::claim(const QString &fileName) {
    dropPendingWrites();
    QFile request(fileName);
    if (request.rename(claimPath())) {
        m_claim.held = true;
        return true;
    }
    m_log.critical(QStringLiteral("[MonitoraDiretorio] Impossível tomar o arquivo %1 (%2); requisição não "
                                  "processada")
                       .arg(fileName, request.errorString()));
    m_failedReads = kMaxReadAttempts;
    m_abandonedStamp = fileStamp(fileName);
    signal_to_add_addObservadorDiretorio();
    return false;
}

QByteArray MonitoraDiretorio::readClaim() const {
    QFile file(claimPath());
    return file.open(QIODevice::ReadOnly) ? file.read(kMaxClaimBytes) : QByteArray();
}

void MonitoraDiretorio::releaseClaim() {
    if (m_claim.held && !QFile::remove(claimPath()) && QFileInfo::exists(claimPath()))
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Impossível remover arquivo ") + claimPath());
    m_claim = Claim();
}

void MonitoraDiretorio::recordOutcome(const QString &dados) {
    // A confirmation, undo or "ATV" has no response file: its fate is its settlement, done when
    // its claim goes.
    const QString header = objectOf(dados).value(QLatin1String("header")).toString();
    if (header == m_protocolo.OP_CNF || header == m_protocolo.OP_NCN || header == m_protocolo.OP_ATV)
        return;
    m_claim.outcome = dados;
    m_claim.response = buildResponse(dados);
    if (!m_claim.held)
        return;
    // Replaced whole: a stop at any moment leaves the request or its answer, never half of one.
    const QByteArray decided =
        QJsonDocument(
            QJsonObject{{kRequisicao, m_claim.document}, {kResposta, m_claim.response}, {kDados, dados}})
            .toJson(QJsonDocument::Compact);
    QSaveFile file(claimPath());
    if (!(file.open(QIODevice::WriteOnly) && file.write(decided) == decided.size() && file.commit()))
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Impossível registrar a resposta em %1 (%2)")
                           .arg(claimPath(), file.errorString()));
}

void MonitoraDiretorio::responseDelivered() {
    emit responseCommitted(m_claim.outcome, controlCodeOf(m_claim.response));
    releaseClaim();
}

QString MonitoraDiretorio::recoverClaim() {
    m_lock = std::make_unique<QLockFile>(m_pathIn + QLatin1Char('/') + QLatin1String(kLockName));
    // Only a live process holds the lock, however long it has run.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock() && m_lock->error() == QLockFile::LockFailedError) {
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Outro serviço monitora ") + m_pathIn +
                       QStringLiteral("; requisições tomadas por ele não são recuperadas"));
        return QString();
    }
    const QFileInfo info(claimPath());
    if (info.isSymLink() || (info.exists() && !info.isFile())) {
        // Never ours: a link would be followed, and the name blocks every claim.
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Arquivo ") + claimPath() +
                       QStringLiteral(" não é um arquivo comum; removido"));
        QFile::remove(claimPath());
        return QString();
    }
    if (!info.exists())
        return QString();

    m_claim.held = true;
    const QByteArray bytes = readClaim();
    const QJsonObject decided = QJsonDocument::fromJson(bytes).object();
    if (decided.value(kResposta).isString()) {
        m_claim.document = decided.value(kRequisicao).toString();
        m_claim.response = decided.value(kResposta).toString();
        m_claim.outcome = decided.value(kDados).toString();
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Resposta decidida antes da parada, entregue "
                                      "novamente: ") +
                       describe(m_claim.document));
        // The sales application may have read it before the stop.
        emit responseCommitted(m_claim.outcome, controlCodeOf(m_claim.response));
        signalToWriteSTS(m_claim.document);
        QFile temp(m_pathOut + QStringLiteral("/arquivo_tef.tmp"));
        if (m_pendingStatus.isNull())
            openResponseTemp(temp, true);
        deliverResponse(temp);
        return QString();
    }

    bool windows1252 = false;
    m_claim.document = m_protocolo.parseRequest(decodeRequest(bytes.left(kMaxRequestBytes), &windows1252));
    const QString header = objectOf(m_claim.document).value(QLatin1String("header")).toString();
    const QString told = describe(m_claim.document);
    if (header == m_protocolo.OP_CNF || header == m_protocolo.OP_NCN || header == m_protocolo.OP_ATV) {
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Requisição interrompida pela parada, executada "
                                      "novamente: ") +
                       told);
        m_leftoverDocument = m_claim.document;
        return QString();
    }
    m_log.critical(QStringLiteral("[MonitoraDiretorio] Requisição interrompida pela parada, resultado "
                                  "desconhecido: ") +
                   told);
    return m_claim.document;
}

void MonitoraDiretorio::answerUnknown(const QString &response) {
    signalToWriteSTS(m_claim.document);
    processResponse(response);
}
