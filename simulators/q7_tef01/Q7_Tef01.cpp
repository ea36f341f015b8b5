// Replacement for the step-wise Tef01 payment library: it plays a scripted dialogue and checks
// what the service sends it.
//
// Scenario (the JSON file named by Q7_SIM_SCENARIO), every member optional. A reply is a JSON
// object, returned as compact text; a JSON string is returned as it stands (for replies that
// are not JSON); a JSON null is returned as a null pointer.
//   "IniciarOperacaoTEF", "RecuperarOperacaoTEF", "ConfirmarOperacaoTEF",
//   "FinalizarOperacaoTEF": one reply, or an array of replies played in turn (the last repeats).
//   "RealizarPagamentoTEF", "RealizarAdmTEF": the replies of one dialogue in call order (the
//       last repeats); every accepted IniciarOperacaoTEF plays them again from the first.
//   "cancelamento": the reply to a cancel; by default a result "9", "OPERACAO CANCELADA".
// Missing members play the default: the start is accepted, a dialogue is one message step
// followed by an approved final reply whose receipts are made from the transaction document,
// and a confirmation or undo answers for the sequence numbers this library handed out. What
// it handed out and settled is also written to the call log (sim::logReturn), from where the
// library takes it up again when it is loaded anew, as after a restart of the service.
//
// Every dialogue call is checked against the previous reply: an accepted start, the
// first-call flag (1 on the first call after the start, 0 afterwards), a JSON object as the
// transaction document with the transaction fields first and the collection state handed back
// unchanged afterwards, and after a prompt a non-empty "automacao_coleta_informacao" (one of
// the options for a list). A call that fails a check gets "codigo" 99 and the reason in
// "mensagem". "automacao_coleta_retorno" "9" is a cancel and ends the dialogue.
//
// Every call is appended to the call log named by Q7_SIM_CALLS, with its arguments.

#include "SimSupport.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QMutex>
#include <QStringList>

#define Q7_TEF01_EXPORT extern "C" Q_DECL_EXPORT

namespace {

const QString kRetorno = QStringLiteral("automacao_coleta_retorno");
const QString kSequencial = QStringLiteral("automacao_coleta_sequencial");
const QString kInformacao = QStringLiteral("automacao_coleta_informacao");
const QString kOpcao = QStringLiteral("automacao_coleta_opcao");
const QString kTipo = QStringLiteral("automacao_coleta_tipo");
const QString kResultado = QStringLiteral("resultadoTransacao");

struct Operation {
    bool started = false;
    bool concluded = false; // the last reply carried a result
    int calls = 0;          // dialogue calls since the start
    QJsonObject transacao;  // document of the first dialogue call
    QJsonObject lastTef;    // "tef" of the last dialogue reply
};

struct Library {
    Library() {
        for (const QJsonObject &done : sim::returns("aprovacao")) {
            const int sequencial = done.value(QStringLiteral("sequencial")).toInt();
            unsettled.insert(sequencial, done.value(QStringLiteral("valor")).toString());
            nextSequencial = qMax(nextSequencial, sequencial + 1);
        }
        for (const QJsonObject &settled : sim::returns("liquidacao"))
            unsettled.remove(settled.value(QStringLiteral("sequencial")).toInt());
    }

    QMutex mutex;
    Operation operation;
    int produto = 0;
    QString client;
    int nextSequencial = 1;
    QHash<int, QString> unsettled; // sequence numbers handed out and not yet settled, with their amounts
};

Library &library() {
    static Library instance;
    return instance;
}

QJsonObject reply(int codigo, const QString &mensagem, const QJsonObject &tef = QJsonObject()) {
    QJsonObject r{{QStringLiteral("codigo"), codigo}, {QStringLiteral("mensagem"), mensagem}};
    if (!tef.isEmpty())
        r.insert(QStringLiteral("tef"), tef);
    return r;
}

QJsonObject refusal(const QString &motivo) {
    return reply(99, motivo);
}

// The null byte array for a JSON null, so that answer() returns a null pointer.
QByteArray textOf(const QJsonValue &value) {
    if (value.isNull())
        return QByteArray();
    if (value.isString()) {
        const QByteArray text = value.toString().toUtf8();
        return text.isNull() ? QByteArray("") : text;
    }
    return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}

const char *answer(const char *entryPoint, const QByteArray &text) {
    return text.isNull() ? nullptr : sim::keep(entryPoint, text);
}

const char *answer(const char *entryPoint, const QJsonObject &object) {
    return answer(entryPoint, textOf(object));
}

// The scenario's reply for a one-shot entry point, or `fallback`.
QByteArray scripted(const char *entryPoint, const QJsonObject &fallback) {
    const QJsonValue value = sim::nextReply(entryPoint);
    return value.isUndefined() ? textOf(fallback) : textOf(value);
}

bool parseObject(const char *text, QJsonObject *object) {
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray(text));
    *object = document.object();
    return document.isObject();
}

QJsonValue orNull(const QJsonValue &value) {
    return value.isUndefined() ? QJsonValue(QJsonValue::Null) : value;
}

QString moeda(const QString &centavos) {
    const QLocale brasil(QLocale::Portuguese, QLocale::Brazil);
    return QStringLiteral("R$ ") + brasil.toString(centavos.toLongLong() / 100.0, 'f', 2);
}

QString nomeCartao(int tipoCartao) {
    static const char *const nomes[] = {"CARTAO", "CREDITO", "DEBITO", "VOUCHER", "FROTA", "PRIVATE LABEL"};
    return QLatin1String(tipoCartao >= 1 && tipoCartao <= 5 ? nomes[tipoCartao] : nomes[0]);
}

// A receipt as the library prints it: lines joined by CR LF.
QString comprovante(const QString &via, const QString &descricao, const QString &valor, int sequencial,
                    const QString &autorizacao, bool assinatura) {
    const QDateTime agora = QDateTime::currentDateTime();
    QStringList linhas{
        QStringLiteral("========================================"),
        QStringLiteral("           COMPROVANTE DE TEF"),
        QStringLiteral("           VIA: %1").arg(via),
        QString(),
        QStringLiteral("        ESTABELECIMENTO DE TESTE"),
        QStringLiteral("    12.345.678/0001-90  Q7000001"),
        QString(),
        QStringLiteral("    %1              %2")
            .arg(agora.toString(QStringLiteral("dd/MM/yyyy")), agora.toString(QStringLiteral("hh:mm:ss"))),
        QStringLiteral("    DOC:%1        AUTORIZ:%2")
            .arg(sequencial, 6, 10, QLatin1Char('0'))
            .arg(autorizacao),
        QStringLiteral("    BANDEIRA TESTE  ************0001"),
        QStringLiteral("    %1").arg(descricao),
        QStringLiteral("    VALOR FINAL: %1").arg(valor),
    };
    if (assinatura)
        linhas << QString() << QStringLiteral("    ________________________________")
               << QStringLiteral("         ASSINATURA DO CLIENTE");
    linhas << QStringLiteral("========================================");
    return linhas.join(QStringLiteral("\r\n"));
}

// The approved final reply of the default dialogue. Call with the mutex held.
QJsonObject approved(Library &lib, bool pagamento, int tipoOuOperacao) {
    const QJsonObject &transacao = lib.operation.transacao;
    const int sequencial = lib.nextSequencial++;
    const QString autorizacao = QStringLiteral("%1").arg(100000 + sequencial * 7919 % 900000);
    const QString valor = transacao.value(QStringLiteral("transacao_valor")).toString();
    QString forma = transacao.value(QStringLiteral("transacao_pagamento")).toString();
    if (forma.isEmpty())
        forma = QStringLiteral("A vista");
    QString financiamento = transacao.value(QStringLiteral("transacao_financiado")).toString();
    if (financiamento.isEmpty())
        financiamento = QStringLiteral("Estabelecimento");

    QString descricao;
    QString mensagem;
    if (pagamento) {
        descricao = QStringLiteral("VENDA %1 %2").arg(nomeCartao(tipoOuOperacao), forma.toUpper());
        mensagem = QStringLiteral("TRANSACAO APROVADA");
    } else if (tipoOuOperacao == 1) {
        descricao = QStringLiteral("CANCELAMENTO DE VENDA");
        mensagem = QStringLiteral("CANCELAMENTO APROVADO");
    } else {
        descricao = QStringLiteral("OPERACAO ADMINISTRATIVA %1").arg(tipoOuOperacao);
        mensagem = QStringLiteral("OPERACAO REALIZADA");
    }
    const QString valorTexto = moeda(valor);

    QJsonObject tef{
        {kResultado, QStringLiteral("0")},
        {QStringLiteral("mensagemResultado"), mensagem},
        {QStringLiteral("sequencial"), QString::number(sequencial)},
        {QStringLiteral("nsuTerminal"), QStringLiteral("%1").arg(sequencial, 6, 10, QLatin1Char('0'))},
        {QStringLiteral("nsuTransacao"), QStringLiteral("%1").arg(900000000 + sequencial)},
        {QStringLiteral("codigoAutorizacao"), autorizacao},
        {QStringLiteral("identificadorPontoCaptura"), QStringLiteral("Q7000001")},
        {QStringLiteral("nomeEstabelecimento"), QStringLiteral("ESTABELECIMENTO DE TESTE")},
        {QStringLiteral("nomeProvedor"), QStringLiteral("REDE TESTE")},
        {QStringLiteral("nomeBandeira"), QStringLiteral("BANDEIRA TESTE")},
        {QStringLiteral("panMascarado"), QStringLiteral("************0001")},
        {QStringLiteral("comprovanteDiferenciadoLoja"),
         comprovante(QStringLiteral("ESTABELECIMENTO"), descricao, valorTexto, sequencial, autorizacao,
                     true)},
        {QStringLiteral("comprovanteDiferenciadoPortador"),
         comprovante(QStringLiteral("CLIENTE"), descricao, valorTexto, sequencial, autorizacao, false)},
    };
    if (!valor.isEmpty())
        tef.insert(QStringLiteral("valorTotal"), valor);
    if (pagamento) {
        tef.insert(QStringLiteral("formaPagamento"), forma);
        tef.insert(QStringLiteral("tipoFinanciamento"), financiamento);
        tef.insert(QStringLiteral("tipoCartao"), nomeCartao(tipoOuOperacao));
        tef.insert(QStringLiteral("nomeProduto"), descricao.mid(6));
        if (forma == QLatin1String("Parcelado"))
            tef.insert(QStringLiteral("numeroParcelas"),
                       transacao.value(QStringLiteral("transacao_parcela")).toString());
    }
    return reply(0, QStringLiteral("Transação aprovada"), tef);
}

// What is wrong with the document of the first dialogue call, or empty.
QString checkFirstCall(bool pagamento, const QJsonObject &dados) {
    for (auto it = dados.constBegin(); it != dados.constEnd(); ++it) {
        if (!it.key().startsWith(QLatin1String("transacao_")))
            return QStringLiteral("Campo inesperado na primeira chamada: %1").arg(it.key());
        if (!it.value().isString() || it.value().toString().isEmpty())
            return QStringLiteral("Campo vazio ou não texto: %1").arg(it.key());
    }
    if (pagamento && !dados.contains(QStringLiteral("transacao_valor")))
        return QStringLiteral("Valor da transação ausente");
    return QString();
}

// What is wrong with the document of a later dialogue call, or empty.
QString checkLaterCall(const QJsonObject &lastTef, const QJsonObject &dados, bool cancel) {
    if (lastTef.value(kRetorno).toString() != QLatin1String("0"))
        return QStringLiteral("Nenhuma coleta pendente");
    for (auto it = dados.constBegin(); it != dados.constEnd(); ++it)
        if (it.key() != kRetorno && it.key() != kSequencial && it.key() != kInformacao)
            return QStringLiteral("Campo inesperado na coleta: %1").arg(it.key());
    if (!dados.contains(kSequencial) || dados.value(kSequencial) != orNull(lastTef.value(kSequencial)))
        return QStringLiteral("Sequencial da coleta não devolvido");
    if (cancel)
        return dados.contains(kInformacao) ? QStringLiteral("Informação coletada num cancelamento")
                                           : QString();
    if (!dados.contains(kRetorno) || dados.value(kRetorno) != orNull(lastTef.value(kRetorno)))
        return QStringLiteral("Retorno da coleta não devolvido");

    const bool prompt = lastTef.contains(kOpcao) || lastTef.contains(kTipo);
    if (!prompt)
        return dados.contains(kInformacao) ? QStringLiteral("Informação coletada sem pedido") : QString();
    const QJsonValue informacao = dados.value(kInformacao);
    if (!informacao.isString() || informacao.toString().isEmpty())
        return QStringLiteral("Informação coletada ausente");
    if (lastTef.contains(kOpcao) &&
        !lastTef.value(kOpcao).toString().split(QLatin1Char(';')).contains(informacao.toString()))
        return QStringLiteral("Opção inválida: %1").arg(informacao.toString());
    return QString();
}

const char *dialogue(const char *entryPoint, const char *firstName, int first, const char *dadosTransacao,
                     int novaTransacao) {
    sim::logCall(entryPoint, {{QLatin1String(firstName), first},
                              {QStringLiteral("dadosTransacao"), sim::text(dadosTransacao)},
                              {QStringLiteral("novaTransacao"), novaTransacao}});
    const bool pagamento = qstrcmp(entryPoint, "RealizarPagamentoTEF") == 0;
    Library &lib = library();
    QMutexLocker locker(&lib.mutex);
    Operation &op = lib.operation;

    QJsonObject dados;
    const bool isObject = parseObject(dadosTransacao, &dados);
    const bool cancel = op.calls > 0 && dados.value(kRetorno) == QLatin1String("9");
    QString problem;
    if (!op.started)
        problem = QStringLiteral("Nenhuma operação iniciada");
    else if (op.concluded)
        problem = QStringLiteral("Operação já concluída");
    else if (!isObject)
        problem = QStringLiteral("Documento da transação inválido");
    else if (novaTransacao != (op.calls == 0 ? 1 : 0))
        problem = QStringLiteral("Indicador de nova transação inválido: %1").arg(novaTransacao);
    else if (op.calls == 0)
        problem = checkFirstCall(pagamento, dados);
    else
        problem = checkLaterCall(op.lastTef, dados, cancel);
    if (!problem.isEmpty())
        return answer(entryPoint, refusal(problem));

    if (op.calls == 0) {
        op.transacao = dados;
        sim::logReturn("inicio", {{QStringLiteral("valor"), dados.value(QStringLiteral("transacao_valor"))}});
    }
    const int index = op.calls++;
    QByteArray text;
    if (cancel) {
        const QJsonValue scripted = sim::scenario().value(QStringLiteral("cancelamento"));
        text =
            scripted.isUndefined()
                ? textOf(reply(0, QStringLiteral("Operação cancelada"),
                               {{kResultado, QStringLiteral("9")},
                                {QStringLiteral("mensagemResultado"), QStringLiteral("OPERACAO CANCELADA")}}))
                : textOf(scripted);
    } else {
        const QJsonValue replies = sim::scenario().value(QLatin1String(entryPoint));
        if (replies.isArray() && !replies.toArray().isEmpty()) {
            const QJsonArray list = replies.toArray();
            text = textOf(list.at(qMin(index, list.size() - 1)));
        } else if (!replies.isUndefined() && !replies.isArray()) {
            text = textOf(replies);
        } else if (index == 0) {
            text =
                textOf(reply(0, QString(),
                             {{QStringLiteral("mensagemResultado"), QStringLiteral("PROCESSANDO TRANSACAO")},
                              {kRetorno, QStringLiteral("0")},
                              {kSequencial, index + 1}}));
        } else {
            text = textOf(approved(lib, pagamento, first));
        }
    }

    op.lastTef = QJsonDocument::fromJson(text).object().value(QStringLiteral("tef")).toObject();
    if (op.lastTef.contains(kResultado)) {
        op.concluded = true;
        bool isNumber = false;
        const int sequencial = op.lastTef.value(QStringLiteral("sequencial")).toString().toInt(&isNumber);
        if (isNumber) {
            const QString valor = op.transacao.value(QStringLiteral("transacao_valor")).toString();
            lib.unsettled.insert(sequencial, valor);
            sim::logReturn("aprovacao",
                           {{QStringLiteral("valor"), valor},
                            {QStringLiteral("aprovada"), op.lastTef.value(kResultado) == QLatin1String("0")},
                            {QStringLiteral("sequencial"), sequencial}});
        }
    }
    return answer(entryPoint, text);
}

} // namespace

Q7_TEF01_EXPORT int GetProdutoTef() {
    sim::logCall("GetProdutoTef", {});
    Library &lib = library();
    QMutexLocker locker(&lib.mutex);
    return lib.produto;
}

Q7_TEF01_EXPORT int SetProdutoTef(int produto) {
    sim::logCall("SetProdutoTef", {{QStringLiteral("produto"), produto}});
    Library &lib = library();
    QMutexLocker locker(&lib.mutex);
    lib.produto = produto;
    return 0;
}

Q7_TEF01_EXPORT const char *GetClientTCP() {
    sim::logCall("GetClientTCP", {});
    Library &lib = library();
    QMutexLocker locker(&lib.mutex);
    return sim::keep("GetClientTCP", lib.client.toUtf8());
}

Q7_TEF01_EXPORT int SetClientTCP(const char *ip, int porta) {
    sim::logCall("SetClientTCP", {{QStringLiteral("ip"), sim::text(ip)}, {QStringLiteral("porta"), porta}});
    if (!ip || porta <= 0 || porta > 65535)
        return 1;
    Library &lib = library();
    QMutexLocker locker(&lib.mutex);
    lib.client = QStringLiteral("%1:%2").arg(QString::fromUtf8(ip)).arg(porta);
    return 0;
}

Q7_TEF01_EXPORT const char *IniciarOperacaoTEF(const char *dadosAutomacao) {
    sim::logCall("IniciarOperacaoTEF", {{QStringLiteral("dadosAutomacao"), sim::text(dadosAutomacao)}});
    Library &lib = library();
    QMutexLocker locker(&lib.mutex);
    lib.operation = Operation();
    QJsonObject dados;
    if (!parseObject(dadosAutomacao, &dados))
        return answer("IniciarOperacaoTEF", refusal(QStringLiteral("Dados da automação inválidos")));
    const QByteArray text = scripted("IniciarOperacaoTEF",
                                     reply(0, QStringLiteral("Operação iniciada"),
                                           {{QStringLiteral("statusClient"), QStringLiteral("CONECTADO")}}));
    // Only an accepted start lets the dialogue run, as the service decides it.
    const QJsonObject started = QJsonDocument::fromJson(text).object();
    lib.operation.started =
        started.contains(QStringLiteral("tef")) &&
        started.value(QStringLiteral("tef")).toObject().value(kResultado).toString().toInt() == 0;
    return answer("IniciarOperacaoTEF", text);
}

Q7_TEF01_EXPORT const char *RecuperarOperacaoTEF(const char *dadosAutomacao) {
    sim::logCall("RecuperarOperacaoTEF", {{QStringLiteral("dadosAutomacao"), sim::text(dadosAutomacao)}});
    QJsonObject dados;
    if (!parseObject(dadosAutomacao, &dados))
        return answer("RecuperarOperacaoTEF", refusal(QStringLiteral("Dados da automação inválidos")));
    return answer("RecuperarOperacaoTEF",
                  scripted("RecuperarOperacaoTEF", reply(0, QStringLiteral("Nenhuma operação a recuperar"))));
}

#ifndef Q7_TEF01_WITHOUT_PAYMENT
Q7_TEF01_EXPORT const char *RealizarPagamentoTEF(int tipoCartao, const char *dadosTransacao,
                                                 int novaTransacao) {
    return dialogue("RealizarPagamentoTEF", "tipoCartao", tipoCartao, dadosTransacao, novaTransacao);
}
#endif

Q7_TEF01_EXPORT const char *RealizarAdmTEF(int operacao, const char *dadosTransacao, int novaTransacao) {
    return dialogue("RealizarAdmTEF", "operacao", operacao, dadosTransacao, novaTransacao);
}

Q7_TEF01_EXPORT const char *ConfirmarOperacaoTEF(int sequencial, int confirmar) {
    sim::logCall("ConfirmarOperacaoTEF",
                 {{QStringLiteral("sequencial"), sequencial}, {QStringLiteral("confirmar"), confirmar}});
    Library &lib = library();
    QMutexLocker locker(&lib.mutex);
    QJsonObject fallback;
    if (confirmar != 0 && confirmar != 1)
        fallback = refusal(QStringLiteral("Decisão inválida: %1").arg(confirmar));
    else if (!lib.unsettled.contains(sequencial))
        fallback = reply(1, QStringLiteral("Transação %1 não encontrada").arg(sequencial));
    else
        fallback = reply(0, (confirmar ? QStringLiteral("Transação %1 confirmada")
                                       : QStringLiteral("Transação %1 desfeita"))
                                .arg(sequencial));
    const QByteArray text = scripted("ConfirmarOperacaoTEF", fallback);
    // Settled only when the reply says so: a scripted refusal leaves it pending.
    if (QJsonDocument::fromJson(text).object().value(QStringLiteral("codigo")).toInt(-1) == 0 &&
        lib.unsettled.contains(sequencial))
        sim::logReturn("liquidacao", {{QStringLiteral("valor"), lib.unsettled.take(sequencial)},
                                      {QStringLiteral("confirmar"), confirmar},
                                      {QStringLiteral("sequencial"), sequencial}});
    return answer("ConfirmarOperacaoTEF", text);
}

Q7_TEF01_EXPORT const char *FinalizarOperacaoTEF(int finalizar) {
    sim::logCall("FinalizarOperacaoTEF", {{QStringLiteral("finalizar"), finalizar}});
    Library &lib = library();
    QMutexLocker locker(&lib.mutex);
    lib.operation = Operation();
    return answer("FinalizarOperacaoTEF",
                  scripted("FinalizarOperacaoTEF", reply(0, QStringLiteral("Operação finalizada"))));
}
