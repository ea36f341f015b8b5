// Replacement for the bridge library. Every entry point logs its call with its arguments
// (Q7_SIM_CALLS) and answers with a JSON object text shaped like the real library's.
//
// Scenario (the file named by Q7_SIM_SCENARIO): a JSON object with a member per entry point
// holding one reply, or an array of replies played in turn (the last one repeats):
//   "approved"                                the entry point's approval (the default)
//   {"approved": {...}}                       the approval with these members added or replaced
//   {"declined": 5, "message": "Cancelada"}   {"q7_bridge_code": 5, "q7_bridge_msg": "Cancelada"}
//   {"reply": {...}}                          exactly this object
//   {"text": "..."}                           exactly this text, JSON or not
//   "empty"                                   the empty text
//   null                                      a null pointer
// Example: {"IniciaVendaCredito": [{"declined": 5, "message": "Cancelada"}, "approved"]}
// Entry points the scenario does not name approve, so with no scenario every sale,
// cancellation and administrative operation is approved.

#include "SimSupport.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>
#include <atomic>

#ifdef _WIN32
#define Q7_SIM_EXPORT extern "C" __declspec(dllexport)
#else
#define Q7_SIM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

QString centered(const QString &text) {
    const int pad = qMax(0, (40 - text.size()) / 2);
    return QString(pad, QLatin1Char(' ')) + text;
}

// "    left          right", 40 columns wide.
QString spread(const QString &left, const QString &right) {
    const int gap = qMax(1, 36 - left.size() - right.size());
    return QStringLiteral("    ") + left + QString(gap, QLatin1Char(' ')) + right;
}

qint64 centsOf(const QString &valorTotal) {
    QString digits;
    for (const QChar c : valorTotal)
        if (c.isDigit())
            digits += c;
    return digits.left(15).toLongLong();
}

QString currency(qint64 cents) {
    QString units = QString::number(cents / 100);
    for (int i = units.size() - 3; i > 0; i -= 3)
        units.insert(i, QLatin1Char('.'));
    return QStringLiteral("R$ %1,%2").arg(units).arg(cents % 100, 2, 10, QLatin1Char('0'));
}

QJsonArray lines(const QStringList &texts) {
    QJsonArray array;
    for (const QString &text : texts)
        array.append(text);
    return array;
}

enum class Kind { Venda, Cancelamento, Administrativa };

// What a call asks for, as the approval describes it.
struct Request {
    Kind kind = Kind::Venda;
    int idTransacao = 0;
    QString pdv;
    QString valorTotal;
    QString tipoCartao = QStringLiteral("CREDITO");
    int tipoFinanciamento = 0;
    int numParcelas = 0;
    QString dataHoraOriginal;
    QString nsuOriginal;
};

std::atomic<int> g_sequence{0};

QJsonObject approval(const Request &request) {
    const int sequence = ++g_sequence;
    const QDateTime now = QDateTime::currentDateTime();
    const QString doc = QStringLiteral("%1").arg(31400 + sequence % 68000, 6, 10, QLatin1Char('0'));
    const QString autorizacao =
        QStringLiteral("%1").arg((27178 + 7919 * sequence) % 1000000, 6, 10, QLatin1Char('0'));
    const QString refHost = now.toString(QStringLiteral("HHmmss")) +
                            QStringLiteral("%1").arg(sequence % 100000, 5, 10, QLatin1Char('0'));
    const qint64 cents = centsOf(request.valorTotal);
    const QString pan = QStringLiteral("************3298");

    QString plano = QStringLiteral("A_VISTA");
    QString descricaoPlano = QStringLiteral("A VISTA");
    int parcelas = 1;
    if (request.tipoFinanciamento == 2 || request.tipoFinanciamento == 3) {
        parcelas = qMax(1, request.numParcelas);
        const bool emissor = request.tipoFinanciamento == 2;
        plano = emissor ? QStringLiteral("PARCELADO_EMISSOR") : QStringLiteral("PARCELADO_ESTABELECIMENTO");
        descricaoPlano = QStringLiteral("PARCELADO %1 %2X")
                             .arg(emissor ? QStringLiteral("EMISSOR") : QStringLiteral("LOJA"))
                             .arg(parcelas);
    }

    QString operacao;
    QString titulo;
    QString mensagem;
    switch (request.kind) {
    case Kind::Venda:
        operacao = QStringLiteral("VENDA");
        titulo = QStringLiteral("VENDA %1 %2").arg(request.tipoCartao, descricaoPlano);
        mensagem = QStringLiteral("APROVADA");
        break;
    case Kind::Cancelamento:
        operacao = QStringLiteral("CANCELAMENTO");
        titulo = QStringLiteral("CANCELAMENTO DE VENDA");
        mensagem = QStringLiteral("CANCELAMENTO APROVADO");
        break;
    case Kind::Administrativa:
        operacao = QStringLiteral("ADMINISTRATIVA");
        titulo = QStringLiteral("TESTE DE COMUNICACAO");
        mensagem = QStringLiteral("OPERACAO CONCLUIDA");
        break;
    }

    const auto copy = [&](const QString &via, bool signature) {
        QStringList text{
            centered(QStringLiteral("ESTABELECIMENTO DE TESTE")),
            centered(QStringLiteral("823982346832235/PDV %1").arg(request.pdv)),
            QString(),
            centered(QStringLiteral("COMPROVANTE DE TEF")),
            centered(QStringLiteral("VIA: ") + via),
            QString(),
            spread(now.toString(QStringLiteral("dd/MM/yyyy")), now.toString(QStringLiteral("HH:mm:ss"))),
            spread(QStringLiteral("DOC:") + doc, QStringLiteral("AUTORIZ:") + autorizacao),
            QStringLiteral("    REF.HOST:") + refHost,
            QString()};
        if (request.kind != Kind::Administrativa)
            text << spread(QStringLiteral("DEMOCARD"), pan);
        text << QStringLiteral("    ") + titulo;
        if (request.kind == Kind::Cancelamento)
            text << QStringLiteral("    DADOS DA VENDA ORIGINAL:")
                 << QStringLiteral("    DOC:") + request.nsuOriginal
                 << QStringLiteral("    ") + request.dataHoraOriginal;
        if (request.kind != Kind::Administrativa)
            text << QStringLiteral("    VALOR FINAL: ") + currency(cents);
        text << QString();
        if (signature)
            text << QStringLiteral("    ________________________________")
                 << centered(QStringLiteral("ASSINATURA DO CLIENTE"));
        return text;
    };
    const bool signature = request.kind == Kind::Venda && request.tipoCartao == QStringLiteral("CREDITO");

    QJsonObject reply{
        {QStringLiteral("q7_bridge_code"), 0},
        {QStringLiteral("q7_bridge_msg"), QStringLiteral("OK")},
        {QStringLiteral("q7_pdv"), request.pdv},
        {QStringLiteral("q7_cupom_fiscal"), false},
        {QStringLiteral("operacao"), operacao},
        {QStringLiteral("identificadorTransacaoAutomacao"), QString::number(request.idTransacao)},
        {QStringLiteral("resultadoTransacao"), 0},
        {QStringLiteral("mensagemResultado"), mensagem},
        {QStringLiteral("nsuTransacao"), doc},
        {QStringLiteral("nsuTerminal"), refHost},
        {QStringLiteral("codigoAutorizacao"), autorizacao},
        {QStringLiteral("dataHoraTransacao"), now.toString(QStringLiteral("ddMMyyyy HHmmss"))},
        {QStringLiteral("nomeProvedor"), QStringLiteral("REDE DEMO")},
        {QStringLiteral("provedor"), QStringLiteral("00005")},
        {QStringLiteral("identificadorConfirmacaoTransacao"),
         now.toString(QStringLiteral("yyMMddHHmmss")) + refHost},
        {QStringLiteral("identificadorEstabelecimento"), QStringLiteral("823982346832235")},
        {QStringLiteral("nomeEstabelecimento"), QStringLiteral("ESTABELECIMENTO DE TESTE")},
        {QStringLiteral("identificadorPontoCaptura"), QStringLiteral("PDV ") + request.pdv},
        {QStringLiteral("codigoMoeda"), QStringLiteral("986")},
        {QStringLiteral("viasImprimir"), QStringLiteral("2")},
        {QStringLiteral("respostaRede"), QStringLiteral("00")},
        {QStringLiteral("requerConfirmacao"), request.kind != Kind::Administrativa},
        {QStringLiteral("comprovanteDiferenciadoLoja"),
         lines(copy(QStringLiteral("ESTABELECIMENTO"), signature))},
        {QStringLiteral("comprovanteDiferenciadoPortador"), lines(copy(QStringLiteral("CLIENTE"), false))},
    };
    if (request.kind != Kind::Administrativa) {
        reply.insert(QStringLiteral("valorTotal"), QString::number(cents));
        reply.insert(QStringLiteral("nomeCartao"), QStringLiteral("DEMOCARD"));
        reply.insert(QStringLiteral("panMascarado"), pan);
        reply.insert(QStringLiteral("tipoCartao"), request.tipoCartao);
        reply.insert(QStringLiteral("modalidadePagamento"), QStringLiteral("CARTAO"));
        reply.insert(QStringLiteral("comprovanteReduzidoPortador"),
                     lines({QStringLiteral("    ") + titulo, spread(QStringLiteral("DEMOCARD"), pan),
                            QStringLiteral("DOC:%1  AUTORIZ:%2").arg(doc, autorizacao),
                            QStringLiteral("VALOR FINAL: ") + currency(cents)}));
    }
    if (request.kind == Kind::Venda) {
        reply.insert(QStringLiteral("tipoFinanciamento"), plano);
        reply.insert(QStringLiteral("numeroParcelas"), parcelas);
    }
    if (request.kind == Kind::Cancelamento) {
        reply.insert(QStringLiteral("nsuTransacaoOriginal"), request.nsuOriginal);
        reply.insert(QStringLiteral("dataHoraTransacaoOriginal"), request.dataHoraOriginal);
    }
    return reply;
}

QByteArray compact(const QJsonObject &object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// The outcome of a sale, cancellation or administrative call, in the call log's books.
const char *booked(const char *entryPoint, const QByteArray &text) {
    if (QByteArray(entryPoint).startsWith("Inicia")) {
        const QJsonObject reply = QJsonDocument::fromJson(text).object();
        sim::logReturn("aprovacao", {{QStringLiteral("valor"), reply.value(QStringLiteral("valorTotal"))},
                                     {QStringLiteral("aprovada"),
                                      reply.value(QStringLiteral("q7_bridge_code")) == 0 &&
                                          reply.value(QStringLiteral("resultadoTransacao")) == 0}});
    }
    return sim::keep(entryPoint, text);
}

// Plays the scenario's next reply for `entryPoint`; `approved` makes the approval.
template <typename Approval> const char *answer(const char *entryPoint, Approval approved) {
    const QJsonValue reply = sim::nextReply(entryPoint);
    if (reply.isNull())
        return nullptr;
    if (reply.isUndefined() || reply == QJsonValue(QStringLiteral("approved")))
        return booked(entryPoint, compact(approved()));
    if (reply == QJsonValue(QStringLiteral("empty")))
        return booked(entryPoint, QByteArray());

    const QJsonObject form = reply.toObject();
    if (form.value(QStringLiteral("approved")).isObject()) {
        QJsonObject object = approved();
        const QJsonObject changes = form.value(QStringLiteral("approved")).toObject();
        for (auto it = changes.begin(); it != changes.end(); ++it)
            object.insert(it.key(), it.value());
        return booked(entryPoint, compact(object));
    }
    if (form.contains(QStringLiteral("declined")))
        return booked(entryPoint,
                      compact({{QStringLiteral("q7_bridge_code"), form.value(QStringLiteral("declined"))},
                               {QStringLiteral("q7_bridge_msg"), form.value(QStringLiteral("message"))}}));
    if (form.value(QStringLiteral("reply")).isObject())
        return booked(entryPoint, compact(form.value(QStringLiteral("reply")).toObject()));
    if (form.value(QStringLiteral("text")).isString())
        return booked(entryPoint, form.value(QStringLiteral("text")).toString().toUtf8());

    // A scenario mistake shows up as a failure the tests can see.
    return booked(entryPoint, compact({{QStringLiteral("q7_bridge_code"), 99},
                                       {QStringLiteral("q7_bridge_msg"),
                                        QStringLiteral("Resposta de cenário inválida")}}));
}

QJsonObject ok(QJsonObject extra = {}) {
    extra.insert(QStringLiteral("q7_bridge_code"), 0);
    extra.insert(QStringLiteral("q7_bridge_msg"), QStringLiteral("OK"));
    return extra;
}

Request sale(int idTransacao, const char *pdv, const char *valorTotal) {
    Request request;
    request.idTransacao = idTransacao;
    request.pdv = QString::fromUtf8(pdv);
    request.valorTotal = QString::fromUtf8(valorTotal);
    return request;
}

QJsonObject saleArguments(int idTransacao, const char *pdv, const char *valorTotal) {
    // Each call is a whole sale: it starts it.
    sim::logReturn("inicio", {{QStringLiteral("valor"), sim::text(valorTotal)}});
    return {{QStringLiteral("idTransacao"), idTransacao},
            {QStringLiteral("pdv"), sim::text(pdv)},
            {QStringLiteral("valorTotal"), sim::text(valorTotal)}};
}

} // namespace

Q7_SIM_EXPORT const char *GetServer() {
    sim::logCall("GetServer", {});
    return answer("GetServer", [] {
        return ok({{QStringLiteral("servidor"), QStringLiteral("127.0.0.1:60906")}});
    });
}

Q7_SIM_EXPORT const char *SetServer(const char *servidor) {
    sim::logCall("SetServer", {{QStringLiteral("servidor"), sim::text(servidor)}});
    return answer("SetServer", [] { return ok(); });
}

Q7_SIM_EXPORT const char *SetSenha(const char *senha) {
    // Only the length: a password has no place in a log.
    sim::logCall("SetSenha",
                 {{QStringLiteral("senha"), senha ? QJsonValue(QString(int(qstrlen(senha)), QLatin1Char('*')))
                                                  : QJsonValue(QJsonValue::Null)}});
    return answer("SetSenha", [] { return ok(); });
}

Q7_SIM_EXPORT const char *GetTimeout() {
    sim::logCall("GetTimeout", {});
    return answer("GetTimeout", [] { return ok({{QStringLiteral("timeout"), 60}}); });
}

Q7_SIM_EXPORT const char *SetTimeout(int segundos) {
    sim::logCall("SetTimeout", {{QStringLiteral("segundos"), segundos}});
    return answer("SetTimeout", [] { return ok(); });
}

Q7_SIM_EXPORT const char *ConsultarStatus() {
    sim::logCall("ConsultarStatus", {});
    return answer("ConsultarStatus", [] {
        return ok({{QStringLiteral("statusClient"), QStringLiteral("CONECTADO")}});
    });
}

Q7_SIM_EXPORT const char *IniciaVenda(int idTransacao, const char *pdv, const char *valorTotal) {
    sim::logCall("IniciaVenda", saleArguments(idTransacao, pdv, valorTotal));
    const Request request = sale(idTransacao, pdv, valorTotal);
    return answer("IniciaVenda", [&request] { return approval(request); });
}

Q7_SIM_EXPORT const char *IniciaVendaDebito(int idTransacao, const char *pdv, const char *valorTotal) {
    sim::logCall("IniciaVendaDebito", saleArguments(idTransacao, pdv, valorTotal));
    Request request = sale(idTransacao, pdv, valorTotal);
    request.tipoCartao = QStringLiteral("DEBITO");
    return answer("IniciaVendaDebito", [&request] { return approval(request); });
}

#ifndef Q7_SIM_WITHOUT_CREDITO
Q7_SIM_EXPORT const char *IniciaVendaCredito(int idTransacao, const char *pdv, const char *valorTotal,
                                             int tipoFinanciamento, int numParcelas) {
    QJsonObject arguments = saleArguments(idTransacao, pdv, valorTotal);
    arguments.insert(QStringLiteral("tipoFinanciamento"), tipoFinanciamento);
    arguments.insert(QStringLiteral("numParcelas"), numParcelas);
    sim::logCall("IniciaVendaCredito", arguments);
    Request request = sale(idTransacao, pdv, valorTotal);
    request.tipoFinanciamento = tipoFinanciamento;
    request.numParcelas = numParcelas;
    return answer("IniciaVendaCredito", [&request] { return approval(request); });
}
#endif

Q7_SIM_EXPORT const char *IniciaCancelamentoVenda(int idTransacao, const char *pdv, const char *valorTotal,
                                                  const char *dataHora, const char *nsu) {
    QJsonObject arguments = saleArguments(idTransacao, pdv, valorTotal);
    arguments.insert(QStringLiteral("dataHora"), sim::text(dataHora));
    arguments.insert(QStringLiteral("nsu"), sim::text(nsu));
    sim::logCall("IniciaCancelamentoVenda", arguments);
    Request request = sale(idTransacao, pdv, valorTotal);
    request.kind = Kind::Cancelamento;
    request.dataHoraOriginal = QString::fromUtf8(dataHora);
    request.nsuOriginal = QString::fromUtf8(nsu);
    return answer("IniciaCancelamentoVenda", [&request] { return approval(request); });
}

Q7_SIM_EXPORT const char *IniciaOperacaoAdministrativa(int idTransacao, const char *pdv, int reservado) {
    sim::logCall("IniciaOperacaoAdministrativa", {{QStringLiteral("idTransacao"), idTransacao},
                                                  {QStringLiteral("pdv"), sim::text(pdv)},
                                                  {QStringLiteral("reservado"), reservado}});
    Request request = sale(idTransacao, pdv, nullptr);
    request.kind = Kind::Administrativa;
    return answer("IniciaOperacaoAdministrativa", [&request] { return approval(request); });
}
