#include "exchange/RequestFate.h"

#include "base/Pause.h"
#include "controllers/platform/DurableFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTextCodec>

#include <utility>

namespace {

constexpr int kRetryDelayMs = 250;
// From this attempt on, a file that cannot be replaced (held open by the sales application, a
// sharing violation on Windows) is written in place.
constexpr int kReplaceAttempts = 4;
// A directory whose clock is further off than this (a share's server) is corrected for.
constexpr qint64 kClockToleranceMs = 2000;
// A fate file is a few kilobytes; anything much larger is not one of ours.
constexpr qint64 kMaxFateBytes = 1024 * 1024;

// Members of the fate file.
const QString kRequisicao = QStringLiteral("requisicao");
const QString kResposta = QStringLiteral("resposta");
const QString kDados = QStringLiteral("dados");
const QString kEstado = QStringLiteral("estado");
const char *const kDecidida = "decidida";
// On disk once the response's temporary file is whole and before it is renamed into place: from
// then on, of that file and the response, exactly one exists until the client takes the response.
const char *const kEntregando = "entregando";
const char *const kRetirada = "retirada";

QJsonObject objectOf(const QString &json) {
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

QString parametro(const QString &document, const char *name) {
    return objectOf(document)
        .value(QLatin1String("parametros"))
        .toObject()
        .value(QLatin1String(name))
        .toString();
}

// A "tag = value" line of a response text.
QString lineValue(const QString &response, const char *tag) {
    for (const QStringRef &line : response.splitRef(QLatin1Char('\n'))) {
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals >= 0 && line.left(equals).trimmed() == QLatin1String(tag))
            return line.mid(equals + 1).trimmed().toString();
    }
    return QString();
}

bool approves(const QString &response) {
    const QString result = lineValue(response, "009-000");
    return result == QLatin1String("0") || result.compare(QLatin1String("P1"), Qt::CaseInsensitive) == 0;
}

QByteArray readAtMost(const QString &path, qint64 maxBytes) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(maxBytes) : QByteArray();
}

// path_out is written by the sales application too, so anyone who may write there may plant a
// link or something else under one of our names: what is not a plain file of ours goes first (the
// link itself, never its target), and nothing is ever written through it.
void clearPlanted(const QString &fileName) {
    const QFileInfo info(fileName);
    if (info.isSymLink() || (info.exists() && !info.isFile()))
        QFile::remove(fileName);
}

bool writeInPlace(const QString &fileName, const QByteArray &content) {
    const QFileInfo info(fileName);
    if (info.isSymLink() || (info.exists() && !info.isFile()))
        return false;
    QFile target(fileName);
    return target.open(QIODevice::WriteOnly | (info.exists() ? QIODevice::Truncate : QIODevice::NewOnly)) &&
           target.write(content) == content.size() && platform::syncFile(target);
}

} // namespace

RequestFate::RequestFate(const QString &pathIn, const QString &pathOut, const QString &fileReq,
                         const QString &fileResp, const QString &stateDirectory,
                         const ProtocoloSitef &protocolo, int produto, QTextCodec *codec)
    : m_pathIn(pathIn)
    , m_pathOut(pathOut)
    , m_fileReq(fileReq)
    , m_fileResp(fileResp)
    , m_stateDirectory(stateDirectory)
    , m_protocolo(protocolo)
    , m_produto(produto)
    , m_codec(codec)
    , m_startedAt(QDateTime::currentDateTimeUtc()) {
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, [this] {
        if (m_stage == Stage::Telling)
            tellStatus();
        else if (m_stage == Stage::Delivering)
            retryDelivery();
    });
}

// "CRT 1234": what a log line names a request by.
QString RequestFate::describe(const QString &document) {
    return objectOf(document).value(QLatin1String("header")).toString() + QLatin1Char(' ') +
           parametro(document, "identificacao");
}

// "[Resumo] CRT id=0801": the start of each summary line, so one grep finds an operation.
QString RequestFate::summaryHead(const QString &document) const {
    return QStringLiteral("[Resumo] %1 id=%2")
        .arg(objectOf(document).value(QLatin1String("header")).toString(),
             parametro(document, "identificacao"));
}

// Milliseconds from the claim; -1 for an answer recovered at start.
QString RequestFate::elapsed() const {
    return QString::number(m_sinceClaim.isValid() ? m_sinceClaim.elapsed() : -1);
}

QString RequestFate::claimPath() const {
    return m_pathIn + QLatin1Char('/') + QLatin1String(kClaimName);
}

QString RequestFate::fatePath() const {
    return m_stateDirectory + QLatin1Char('/') + QLatin1String(kFateName);
}

QString RequestFate::responsePath() const {
    return m_pathOut + QLatin1Char('/') + m_fileReq;
}

QString RequestFate::temporaryPath() const {
    return m_pathOut + QStringLiteral("/arquivo_tef.tmp");
}

bool RequestFate::markDelivering() {
    if (!m_markedDelivering)
        m_markedDelivering = saveFate(kEntregando, m_document, m_response, m_outcome);
    return m_markedDelivering;
}

bool RequestFate::isSettlement(const QString &header) const {
    return header == m_protocolo.OP_CNF || header == m_protocolo.OP_NCN || header == m_protocolo.OP_ATV;
}

bool RequestFate::newerRequestWaits() const {
    return !QDir(m_pathIn).entryList({m_fileReq}, QDir::Files | QDir::System | QDir::Hidden).isEmpty();
}

// When the client wrote the file, by our clock: a share whose clock is off is corrected for,
// and then a time before our own start is not believed.
QDateTime RequestFate::writtenAt(const QString &fileName) const {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QDateTime written = QFileInfo(fileName).lastModified().toUTC();
    if (!written.isValid())
        return now;
    if (m_clockSkewMs != 0)
        written = qMax(written.addMSecs(-m_clockSkewMs), m_startedAt);
    return qMin(written, now);
}

void RequestFate::measureClock() {
    const QString probe = m_pathIn + QStringLiteral("/arquivo_tef.relogio");
    QFile file(probe);
    if (!file.open(QIODevice::WriteOnly) || file.write("0") != 1)
        return;
    file.close();
    const qint64 skew = QDateTime::currentDateTimeUtc().msecsTo(QFileInfo(probe).lastModified().toUTC());
    QFile::remove(probe);
    if (qAbs(skew) <= kClockToleranceMs)
        return;
    m_clockSkewMs = skew;
    m_log.critical(QStringLiteral("[MonitoraDiretorio] Relógio de %1 difere do deste computador em %2 s; "
                                  "acerte os relógios")
                       .arg(m_pathIn)
                       .arg(skew / 1000));
}

// A rename inside path_in never replaces a file, so of two services that see one request only one
// takes it; what cannot be taken (held by another, no permission) is never run.
bool RequestFate::claim(const QString &fileName) {
    const QDateTime written = writtenAt(fileName);
    QString error;
    // On the disk before its status says it was taken: a power cut must not put it back.
    if (!platform::renameDurably(fileName, claimPath(), false, &error)) {
        m_log.critical(
            QStringLiteral("[MonitoraDiretorio] Impossível tomar o arquivo %1 (%2); requisição não "
                           "processada")
                .arg(fileName, error));
        return false;
    }
    m_claimHeld = true;
    m_deadline = written.addMSecs(kClientWaitMs - kStatusMarginMs);
    m_sinceClaim.start();
    return true;
}

QByteArray RequestFate::readClaim(qint64 maxBytes) const {
    return readAtMost(claimPath(), maxBytes);
}

QString RequestFate::statusText(const QString &document) const {
    return QStringList{
               m_protocolo.lineFormat.arg(m_protocolo.TAG_000_000,
                                          objectOf(document).value(QLatin1String("header")).toString()),
               m_protocolo.lineFormat.arg(m_protocolo.TAG_001_000, parametro(document, "identificacao")),
               m_protocolo.lineFormat.arg(m_protocolo.TAG_999_999, QStringLiteral("0"))}
               .join(m_protocolo.lineSeparator) +
           m_protocolo.lineSeparator;
}

bool RequestFate::handOver(const QString &document) {
    settlePrevious(document);
    m_document = document;
    m_response.clear();
    m_outcome.clear();
    m_status = statusText(document);
    m_stage = Stage::Telling;
    m_quiet = false;
    if (std::exchange(m_recoveredClaim, false)) {
        // Taken before the stop, so its client had its status then. One that has moved on to a
        // newer request polls for that one's status: this one is not written again.
        m_deadline = QDateTime();
        m_quiet = newerRequestWaits();
    } else if (!m_claimHeld) {
        m_sinceClaim.start();
        // Answered where it stands (a link, a directory): the client waits from now.
        m_deadline = QDateTime::currentDateTimeUtc().addMSecs(kClientWaitMs - kStatusMarginMs);
    }
    if (clientStillWaits())
        return true;
    setAside(QStringLiteral("escrita há mais de %1 s; a automação já não espera por ela")
                 .arg(kClientWaitMs / 1000));
    return false;
}

bool RequestFate::clientStillWaits() const {
    return !m_deadline.isValid() || QDateTime::currentDateTimeUtc() <= m_deadline;
}

// The library is called only once the status is on disk, whole, while the client still waits for
// it: a request it gave up on would be run behind its back, and run again when it retries.
void RequestFate::tellStatus() {
    const bool first = m_retryIntervalMs == 0;
    if (m_quiet || (clientStillWaits() && writeStatus(first))) {
        if (!clientStillWaits()) {
            QFile::remove(m_pathOut + QLatin1Char('/') + m_fileResp);
            setAside(QStringLiteral("status gravado depois do prazo da automação"));
            return;
        }
        m_retryIntervalMs = 0;
        m_stage = Stage::Running;
        emit startTefProcess();
        return;
    }
    if (!clientStillWaits()) {
        setAside(QStringLiteral("status não gravado em %1 dentro do prazo de %2 s da automação")
                     .arg(m_pathOut)
                     .arg(kClientWaitMs / 1000));
        return;
    }
    m_retryIntervalMs = kRetryDelayMs;
    m_retryTimer.start(Pause::scaled(kRetryDelayMs));
}

// One attempt; `report` logs a failure (the first attempt does, retries stay quiet).
bool RequestFate::writeStatus(bool report) {
    // Written beside its final name and renamed into place, so that a sales application polling
    // for it never reads half a file.
    const QString name = m_pathOut + QLatin1Char('/') + m_fileResp;
    const QByteArray bytes = m_codec->fromUnicode(m_status);
    clearPlanted(name);
    QSaveFile file(name);
    // Where no file can be created beside it (permissions of a share) but it can be written.
    file.setDirectWriteFallback(QFileInfo(name).isFile());
    const bool opened = file.open(QIODevice::WriteOnly);
    bool written = opened && file.write(bytes) == bytes.size() && file.commit();
    if (!written && report)
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Impossível escrever no arquivo STS %1 (%2); nova "
                                      "tentativa até o prazo da automação")
                           .arg(name, file.errorString()));
    // A status file that the sales application keeps open cannot be replaced on Windows (a
    // sharing violation), but may still be written: after a few attempts try that.
    if (!written && m_retryIntervalMs > 0 && writeInPlace(name, bytes)) {
        m_log.info(QStringLiteral("[MonitoraDiretorio] Arquivo de status gravado diretamente em ") + name);
        written = true;
    }
    // A full disk can leave an empty or short file behind a write that seemed to succeed: no
    // status at all is better than one the client cannot match.
    if (written && QFileInfo(name).size() != bytes.size()) {
        QFile::remove(name);
        written = false;
    }
    if (written)
        m_log.info(QStringLiteral("[MonitoraDiretorio] Arquivo status [") + name + QStringLiteral("]: ") +
                   m_status);
    return written;
}

void RequestFate::setAside(const QString &why) {
    m_retryTimer.stop();
    m_retryIntervalMs = 0;
    QString where = QStringLiteral("(não tomada)");
    if (m_claimHeld) {
        where = m_pathIn + QLatin1Char('/') + QLatin1String(kSetAsideName) + QLatin1Char('.') +
                QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmsszzz"));
        QString error;
        if (!platform::renameDurably(claimPath(), where, false, &error))
            where = claimPath();
        m_claimHeld = false;
    }
    m_log.critical(QStringLiteral("[MonitoraDiretorio] Requisição %1 não executada: %2; guardada em %3")
                       .arg(describe(m_document), why, where));
    m_stage = Stage::Idle;
    m_document.clear();
    emit requestDropped();
}

bool RequestFate::saveFate(const char *estado, const QString &document, const QString &response,
                           const QString &outcome) {
    const QByteArray bytes = QJsonDocument(QJsonObject{{kRequisicao, document},
                                                       {kResposta, response},
                                                       {kDados, outcome},
                                                       {kEstado, QLatin1String(estado)}})
                                 .toJson(QJsonDocument::Compact);
    // Replaced whole: a stop or a power cut at any moment leaves the old state or the new one.
    QString error;
    if (platform::writeDurably(fatePath(), bytes, &error))
        return true;
    m_log.critical(
        QStringLiteral("[MonitoraDiretorio] Impossível registrar a resposta em %1 (%2); uma parada "
                       "agora a perderia")
            .arg(fatePath(), error));
    return false;
}

void RequestFate::recordOutcome(const QString &dados) {
    // A confirmation, undo or "ATV" has no response file: its fate is its settlement, done when its
    // claim goes.
    if (isSettlement(objectOf(dados).value(QLatin1String("header")).toString()) || !m_response.isNull())
        return;
    m_outcome = dados;
    switch (m_produto) {
    case 0:
        m_response = m_protocolo.buildSitefResponse(dados);
        break;
    case 1:
        m_response = m_protocolo.buildBridgeResponse(dados);
        break;
    case 2:
        m_response = m_protocolo.buildTefResponse(dados);
        break;
    default:
        m_log.critical("Produto TEF inválido");
        m_response = QString(QLatin1String(""));
    }
    // The claim holds the request as the client wrote it, maybe in a file we cannot write: the
    // answer goes into a file of our own, and the claim goes once that is on disk. Its removal is
    // on the disk before the answer is delivered, or a power cut would bring it back as the next
    // request, to run twice.
    if (saveFate(kDecidida, m_document, m_response, m_outcome) && m_claimHeld &&
        platform::removeDurably(claimPath()))
        m_claimHeld = false;
}

void RequestFate::processResponse(const QString &dados) {
    const QString header = objectOf(dados).value(QLatin1String("header")).toString();
    if (isSettlement(header)) {
        m_log.info(QStringLiteral("[MonitoraDiretorio] Operação ") + header +
                   QStringLiteral(" não requer arquivo intpos.001"));
        // The status file was its answer; the settlement is done, and not to be done again.
        if (m_claimHeld && !platform::removeDurably(claimPath()) && QFileInfo::exists(claimPath()))
            m_log.critical(QStringLiteral("[MonitoraDiretorio] Impossível remover arquivo ") + claimPath());
        m_claimHeld = false;
        m_log.info(
            summaryHead(m_document) +
            QStringLiteral(" produto=%1 tempo=%2 ms; liquidada").arg(QString::number(m_produto), elapsed()));
        finish();
        return;
    }
    recordOutcome(dados);
    deliver();
}

void RequestFate::deliver() {
    m_stage = Stage::Delivering;
    m_markedDelivering = false;
    m_retryIntervalMs = 0;
    if (writeResponse(true)) {
        delivered();
        return;
    }
    m_retryIntervalMs = kRetryDelayMs;
    m_retryTimer.start(Pause::scaled(m_retryIntervalMs));
}

// An answer is never dropped: it waits in the fate file and is tried again, less and less often,
// until it is delivered. Meanwhile nothing new is taken, and the operator is told once.
void RequestFate::retryDelivery() {
    if (writeResponse(false)) {
        delivered();
        return;
    }
    if (!m_problemTold && m_retryIntervalMs >= 4 * kRetryDelayMs) {
        m_problemTold = true;
        const QString problem =
            QStringLiteral("Respostas não podem ser entregues em %1. Verifique a pasta ou o disco; a venda "
                           "aguarda.")
                .arg(m_pathOut);
        m_log.critical(QStringLiteral("[MonitoraDiretorio] ") + problem +
                       QStringLiteral(" Novas tentativas sem fim; nenhuma requisição é tomada até lá: ") +
                       describe(m_document));
        emit deliveryProblem(problem);
    }
    m_retryIntervalMs = qMin(2 * m_retryIntervalMs, kMaxRetryIntervalMs);
    m_retryTimer.start(Pause::scaled(m_retryIntervalMs));
}

// One attempt, through arquivo_tef.tmp renamed into place; `report` logs a failure.
bool RequestFate::writeResponse(bool report) {
    const QByteArray content = m_codec->fromUnicode(m_response);
    const QString finalName = responsePath();
    const bool lastResort = m_retryIntervalMs >= kReplaceAttempts * kRetryDelayMs;
    QFile temp(temporaryPath());
    // Made anew, so that it is a plain file of ours and no link planted under its name.
    QFile::remove(temp.fileName());
    const bool opened = temp.open(QIODevice::WriteOnly | QIODevice::NewOnly);
    if (!opened && report) {
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Erro ao abrir arquivo de resposta ") +
                       temp.fileName());
        m_log.info(temp.errorString());
    }
    // Told after the failure it meets, so that the log reads where it happened.
    if (report)
        m_log.info(QStringLiteral("[MonitoraDiretorio] Formato SiTef: ") + m_response);
    if (!opened) {
        // Nothing can be created beside it, but the response file itself may be written.
        if (!lastResort || !markDelivering() || !writeInPlace(finalName, content) ||
            QFileInfo(finalName).size() != content.size())
            return false;
        m_log.info(QStringLiteral("[MonitoraDiretorio] Arquivo de resposta gravado diretamente em ") +
                   finalName);
        return true;
    }
    const qint64 written = temp.write(content);
    // A short write (a full disk) must not reach the sales application as its answer, nor a file
    // whose data a power cut can take after the rename.
    const bool whole = written == content.size() && platform::syncFile(temp);
    temp.close();
    if (report)
        m_log.info(QStringLiteral("[MonitoraDiretorio] Quantidade de bytes gravados no arquivo ") +
                   temp.fileName() + QStringLiteral(": ") + QString::number(written));
    // Its name on the disk too, before the fate file says that it or the response stands there.
    if (whole)
        platform::syncDirectory(temp.fileName());
    if (!whole || QFileInfo(temp.fileName()).size() != content.size() || !markDelivering()) {
        QFile::remove(temp.fileName());
        return false;
    }
    // Over an older response in one step (a link goes first: never written through).
    clearPlanted(finalName);
    QString error;
    if (platform::renameDurably(temp.fileName(), finalName, true, &error)) {
        m_log.info(QStringLiteral("[MonitoraDiretorio] Arquivo renomeado com sucesso para ") + finalName);
        return true;
    }
    if (report)
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Falha ao renomear arquivo para ") + finalName);
    if (!lastResort || !writeInPlace(finalName, content))
        return false;
    QFile::remove(temp.fileName());
    m_log.info(QStringLiteral("[MonitoraDiretorio] Arquivo de resposta gravado diretamente em ") + finalName);
    return true;
}

void RequestFate::delivered() {
    // What support asks about a sale, in one line; whether the client read it follows later. One
    // arg() call: a value holding "%1" must not be taken for a place to fill.
    m_log.info(
        summaryHead(m_document) +
        QStringLiteral(" valor=%1 produto=%2 resultado=%3 texto=\"%4\" nsu=%5 controle=%6 tempo=%7 ms; "
                       "resposta entregue")
            .arg(parametro(m_document, "valor"), QString::number(m_produto), lineValue(m_response, "009-000"),
                 lineValue(m_response, "030-000"), lineValue(m_response, "012-000"),
                 lineValue(m_response, "027-000"), elapsed()));
    m_retryTimer.stop();
    m_retryIntervalMs = 0;
    m_deliveredDocument = m_document;
    m_deliveredResponse = m_response;
    m_deliveredOutcome = m_outcome;
    if (m_problemTold) {
        m_problemTold = false;
        m_log.info(QStringLiteral("[MonitoraDiretorio] Resposta entregue em ") + m_pathOut);
        emit deliveryProblem(QString());
    }
    finish();
}

void RequestFate::finish() {
    m_sinceClaim.invalidate();
    m_stage = Stage::Idle;
    m_document.clear();
    m_response.clear();
    m_outcome.clear();
    emit requestFinished();
}

// Before the next request runs: the response delivered last is the client's once its file is
// gone, or once this request names its transaction; one still lying there was never read.
void RequestFate::settlePrevious(const QString &next) {
    if (m_deliveredResponse.isNull())
        return;
    const QJsonObject request = objectOf(next);
    const QString header = request.value(QLatin1String("header")).toString();
    const bool names = (header == m_protocolo.OP_CNF || header == m_protocolo.OP_NCN) &&
                       (ProtocoloSitef::sameReference(parametro(next, "finalizacao"),
                                                      lineValue(m_deliveredResponse, "027-000")) ||
                        ProtocoloSitef::sameReference(parametro(next, "numero_transacao"),
                                                      lineValue(m_deliveredResponse, "012-000")));
    const QFileInfo info(responsePath());
    if (!names && (info.exists() || info.isSymLink())) {
        withdraw(QStringLiteral("chegou a requisição ") + describe(next));
        return;
    }
    taken();
}

void RequestFate::withdraw(const QString &why) {
    const QString response = std::exchange(m_deliveredResponse, QString());
    const QString outcome = std::exchange(m_deliveredOutcome, QString());
    // A stop from here on undoes it at the next start.
    saveFate(kRetirada, m_deliveredDocument, response, outcome);
    // Only our own file goes: whatever replaced it belongs to someone else. Gone from the disk
    // before the approval is undone: after a power cut the client must not find it there.
    const QString path = responsePath();
    if (!QFileInfo(path).isSymLink() && readAtMost(path, kMaxFateBytes) == m_codec->fromUnicode(response))
        platform::removeDurably(path);
    const QString line =
        QStringLiteral("[MonitoraDiretorio] Resposta não lida pela automação, retirada (%1): "
                       "id %2, NSU %3")
            .arg(why, lineValue(response, "001-000"), lineValue(response, "012-000"));
    m_log.info(summaryHead(m_deliveredDocument) +
               QStringLiteral(": resposta não lida pela automação, retirada"));
    if (approves(response)) {
        m_log.critical(line + QStringLiteral("; transação aprovada, desfazendo"));
        emit responseWithdrawn(outcome);
    } else {
        m_log.info(line);
    }
    // Undone once: a power cut must not bring "retirada" back to undo it again.
    platform::removeDurably(fatePath());
}

void RequestFate::taken() {
    m_log.info(summaryHead(m_deliveredDocument) + QStringLiteral(": resposta lida pela automação"));
    emit responseTaken(m_deliveredOutcome, lineValue(m_deliveredResponse, "027-000"));
    QFile::remove(fatePath());
    m_deliveredResponse.clear();
    m_deliveredOutcome.clear();
}

bool RequestFate::recover() {
    measureClock();
    const QJsonObject fate = QJsonDocument::fromJson(readAtMost(fatePath(), kMaxFateBytes)).object();
    const QString estado = fate.value(kEstado).toString();
    if (estado == QLatin1String(kDecidida)) // the claim beside it, if any, is the same request
        QFile::remove(claimPath());
    if (!estado.isEmpty()) {
        m_deliveredDocument = fate.value(kRequisicao).toString();
        m_deliveredResponse = fate.value(kResposta).toString();
        m_deliveredOutcome = fate.value(kDados).toString();
    }
    const QByteArray ours = m_codec->fromUnicode(m_deliveredResponse);
    const bool inPath = readAtMost(responsePath(), kMaxFateBytes) == ours;
    const bool renamed =
        !QFileInfo::exists(temporaryPath()) || readAtMost(temporaryPath(), kMaxFateBytes) != ours;
    if (estado == QLatin1String(kEntregando) && renamed && !QFileInfo::exists(responsePath())) {
        taken();
    } else if (estado == QLatin1String(kEntregando) && inPath) {
        // Its client may be reading it right now: judged at the next request, as told until then.
        m_log.critical(
            QStringLiteral("[MonitoraDiretorio] Resposta entregue antes da parada, ainda não lida: ") +
            describe(m_deliveredDocument));
        emit responseTaken(m_deliveredOutcome, lineValue(m_deliveredResponse, "027-000"));
    } else if (estado == QLatin1String(kRetirada) || (estado == QLatin1String(kEntregando) && renamed)) {
        // Withdrawn already, or replaced by some other file: never read.
        withdraw(QStringLiteral("parada do serviço antes da leitura"));
    } else if (!estado.isEmpty() && newerRequestWaits()) {
        withdraw(QStringLiteral("parada antes da entrega; a automação já enviou outra requisição"));
    } else if (!estado.isEmpty()) {
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Resposta decidida antes da parada, entregue "
                                      "novamente: ") +
                       describe(m_deliveredDocument));
        // Counted as told until the next request shows whether it was read.
        emit responseTaken(m_deliveredOutcome, lineValue(m_deliveredResponse, "027-000"));
        m_document = std::exchange(m_deliveredDocument, QString());
        m_response = std::exchange(m_deliveredResponse, QString());
        m_outcome = std::exchange(m_deliveredOutcome, QString());
        m_status = statusText(m_document);
        writeStatus(true);
        deliver();
    }
    // A claim beside a delivered answer is the next request, taken just before the stop.
    if (m_stage == Stage::Delivering)
        return false;
    const QFileInfo info(claimPath());
    if (info.isSymLink() || (info.exists() && !info.isFile())) {
        // Never ours: a link would be followed, and the name blocks every claim.
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Arquivo ") + claimPath() +
                       QStringLiteral(" não é um arquivo comum; removido"));
        QFile::remove(claimPath());
        return false;
    }
    m_claimHeld = info.exists();
    m_recoveredClaim = m_claimHeld;
    return m_claimHeld;
}

void RequestFate::answerUnknown(const QString &document, const QString &response) {
    m_document = document;
    m_status = statusText(document);
    m_recoveredClaim = false;
    // A client that has moved on to a newer request is not waiting for this status.
    if (!newerRequestWaits())
        writeStatus(true);
    processResponse(response);
}

void RequestFate::finishPendingWrites() {
    m_retryTimer.stop();
    for (int i = 0; i < kShutdownWriteAttempts && m_stage == Stage::Delivering; ++i) {
        if (i > 0)
            Pause::sleep(kRetryDelayMs);
        m_retryIntervalMs = qMax(m_retryIntervalMs, kReplaceAttempts * kRetryDelayMs);
        if (writeResponse(false))
            delivered();
    }
    if (m_stage == Stage::Delivering)
        m_log.critical(QStringLiteral("[MonitoraDiretorio] Resposta não entregue em %1 no encerramento; fica "
                                      "registrada e é entregue na próxima partida: %2")
                           .arg(m_pathOut, describe(m_document)));
}
