#include "controllers/Q7_Tef_Controller.h"

#include "base/Log.h"
#include "exchange/ProtocoloSitef.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QMutexLocker>
#include <algorithm>

namespace {

const QString kColetaRetorno = QStringLiteral("automacao_coleta_retorno");
const QString kColetaSequencial = QStringLiteral("automacao_coleta_sequencial");
const QString kColetaInformacao = QStringLiteral("automacao_coleta_informacao");

QJsonObject parseObject(const QByteArray &text) {
    return QJsonDocument::fromJson(text).object();
}

QString compact(const QJsonObject &object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// The library owns the text it returns and may reuse it on its next call: copy it at once.
QByteArray replyOf(const char *text) {
    return QByteArray(text);
}

// Stands in for the reply of an entry point the library does not export, so the operation
// ends like a refused start instead of calling through a null pointer.
QByteArray missingEntryPoint(const char *name) {
    const QString message =
        QStringLiteral("Função %1 não encontrada na biblioteca Q7_Tef").arg(QLatin1String(name));
    Log().critical(QStringLiteral("[Q7_Tef_Controller] ") + message);
    return QJsonDocument(QJsonObject{{QStringLiteral("codigo"), -1}, {QStringLiteral("mensagem"), message}})
        .toJson(QJsonDocument::Compact);
}

QString saleTitle(int tipoCartao) {
    switch (tipoCartao) {
    case 1:
        return QStringLiteral("Venda Crédito\n Valor: ");
    case 2:
        return QStringLiteral("Venda Débito\n Valor: ");
    case 3:
        return QStringLiteral("Venda Voucher\n Valor: ");
    case 4:
        return QStringLiteral("Venda Frota\n Valor: ");
    case 5:
        return QStringLiteral("Venda Private Label\n Valor: ");
    default:
        return QStringLiteral("Venda\n Valor: ");
    }
}

} // namespace

Q7_Tef_Controller::Q7_Tef_Controller(QObject *parent, const QString &libraryPath,
                                     const QString &journalDirectory)
    : Base_Controller(parent)
    , library(libraryPath)
    , record(std::make_unique<Q7_Tef_VO>())
    , journal(journalDirectory.isEmpty() ? QString()
                                         : journalDirectory + QLatin1Char('/') + QLatin1String(kJournalName),
              QStringLiteral("[Q7_Tef_Controller]")) {
    library.load();
    if (!library.isLoaded()) {
        Log().critical("[Q7_Tef_Controller] Erro ao carregar a biblioteca do Q7_Tef");
        return;
    }
    Log().info("[Q7_Tef_Controller] API carregada com sucesso");
    if (library.SetClientTCP)
        library.SetClientTCP("127.0.0.1", 60906);
    else
        missingEntryPoint("SetClientTCP");
}

Q7_Tef_Controller::~Q7_Tef_Controller() {
    // The library must outlive a call in progress: the dialogue is cancelled at its next
    // step and the thread waited for.
    interrupt();
    wait();
    if (library.unload())
        Log().info("[Q7_Tef_Controller] Biblioteca Q7_Tef liberada");
    else
        Log().critical("[Q7_Tef_Controller] Falha ao liberar biblioteca Q7_Tef");
}

void Q7_Tef_Controller::setJsonConfigs(const QString &value) {
    Log().info(QStringLiteral("[Q7_Tef_Controller] setJsonConfigs\n") + value);
    const QJsonObject request = QJsonDocument::fromJson(value.toUtf8()).object();
    {
        QMutexLocker locker(&mutex);
        jsonConfigs = request;
        cancelPending = false;
    }

    const QJsonObject parametros = request.value(QStringLiteral("parametros")).toObject();
    const auto field = [&parametros](const char *name) {
        return parametros.value(QLatin1String(name)).toString();
    };
    auto next = std::make_unique<Q7_Tef_VO>();
    next->setHeader(request.value(QStringLiteral("header")).toString());
    next->setCodigoTransacao(field("codigo_transacao"));
    next->setIdentificacao(field("identificacao"));
    next->setAplicacao(field("aplicacao"));
    next->setVersaoAplicacao(field("versao_aplicacao"));
    next->setEstabelecimento(field("estabelecimento"));
    next->setLoja(field("loja"));
    next->setTerminal(field("terminal"));
    next->setTipoCartao(field("tipo_cartao"));
    next->setPagamento(field("quantidade_parcelas"));
    next->setFinanciado(field("tipo_parcelamento"));
    next->setParcela(field("quantidade_parcelas"));
    next->setValor(field("valor"));
    next->setAdmUsuario(field("adm_usuario"));
    next->setAdmSenha(field("adm_senha"));
    record = std::move(next);
    requisicao = ProtocoloSitef::requestFallback(request);
}

QByteArray Q7_Tef_Controller::buildStartJson() const {
    QJsonObject start;
    const auto put = [&start](const char *key, const QString &value) {
        if (!value.isEmpty())
            start.insert(QLatin1String(key), value);
    };
    put("aplicacao_tela", record->aplicacao());
    put("versao", record->versaoAplicacao());
    put("estabelecimento", record->estabelecimento());
    put("loja", record->loja());
    put("terminal", record->terminal());
    return QJsonDocument(start).toJson(QJsonDocument::Compact);
}

QByteArray Q7_Tef_Controller::buildTransactionJson(bool firstCall) const {
    if (!firstCall)
        return QJsonDocument(jsonConfigs).toJson(QJsonDocument::Compact);
    QJsonObject transacao;
    const auto put = [&transacao](const char *key, const QString &value) {
        if (!value.isEmpty())
            transacao.insert(QLatin1String(key), value);
    };
    put("transacao_pagamento", record->pagamento());
    put("transacao_financiado", record->financiado());
    put("transacao_parcela", record->parcela());
    put("transacao_valor", record->valor());
    put("transacao_administracao_usuario", record->admUsuario());
    put("transacao_administracao_senha", record->admSenha());
    return QJsonDocument(transacao).toJson(QJsonDocument::Compact);
}

void Q7_Tef_Controller::copyCollectionState(const QJsonObject &reply) {
    const QJsonObject tef = reply.value(QStringLiteral("tef")).toObject();
    // An absent member must travel as null: inserting an undefined value would drop the key.
    const auto copied = [&tef](const QString &key) {
        const QJsonValue value = tef.value(key);
        return value.isUndefined() ? QJsonValue(QJsonValue::Null) : value;
    };
    jsonConfigs =
        QJsonObject{{kColetaRetorno, copied(kColetaRetorno)}, {kColetaSequencial, copied(kColetaSequencial)}};
}

bool Q7_Tef_Controller::needsCollection(const QJsonObject &reply) {
    if (!reply.contains(QStringLiteral("tef")))
        return false;
    const QJsonObject tef = reply.value(QStringLiteral("tef")).toObject();
    return !tef.contains(QStringLiteral("resultadoTransacao")) && tef.contains(kColetaRetorno) &&
           tef.value(kColetaRetorno).toString() == QLatin1String("0");
}

void Q7_Tef_Controller::processTef() {
    Log().info("[Q7_Tef_Controller] INICIANDO OPERAÇÃO Q7_TEF");
    const ProtocoloSitef protocolo;
    const QString header = record->header();
    Log().info(QStringLiteral("[Q7_Tef_Controller] Operação identificada: ") + header);
    const QJsonObject identificacao{{QStringLiteral("header"), header},
                                    {QStringLiteral("id"), record->identificacao()}};

    const auto refuse = [&](const QString &mensagem) {
        QJsonObject response = identificacao;
        response.insert(QStringLiteral("codigo"), -1);
        response.insert(QStringLiteral("mensagem"), mensagem);
        emit responseProcessTEF(compact(response));
    };
    QString msgErro;
    {
        QMutexLocker locker(&mutex);
        msgErro = jsonConfigs.value(QStringLiteral("msg_erro")).toString();
    }
    if (header == protocolo.OP_ATV) {
        emit responseProcessTEF(compact(identificacao));
    } else if (!msgErro.isEmpty()) {
        // A request the reader could not make sense of never reaches the library: a payment
        // must not run on whatever fields a broken file happened to carry.
        Log().critical(QStringLiteral("[Q7_Tef_Controller] Requisição inválida: ") + msgErro);
        refuse(msgErro);
    } else if (!library.isLoaded()) {
        Log().critical("[Q7_Tef_Controller] API não foi carregada");
        // Without an answer the sales application would wait for a response file forever.
        refuse(QStringLiteral("Biblioteca Q7_Tef não carregada"));
    } else if (header == protocolo.OP_CNF || header == protocolo.OP_NCN) {
        // Not refused: what it settles is kept in memory until the journal can take it.
        journalUsable(header + QStringLiteral(" liquida o que está na memória"));
        finish(identificacao, settlePending(header == protocolo.OP_CNF ? 1 : 0));
    } else if (header != protocolo.OP_CRT && header != protocolo.OP_CNC && header != protocolo.OP_ADM) {
        Log().critical(QStringLiteral("[Q7_Tef_Controller] Operação desconhecida: ") + header);
        refuse(QStringLiteral("Operação desconhecida"));
    } else if (!journalUsable(header + QStringLiteral(" recusada sem chamar a biblioteca"))) {
        // An approval it could not record would never be undone after a stop.
        refuse(
            QStringLiteral("Registro de transações indisponível; operação não realizada. Chame o suporte"));
    } else {
        finish(identificacao, startOperation(protocolo));
    }
    Log().info("[Q7_Tef_Controller] FINALIZANDO OPERAÇÃO Q7_TEF");
}

// What a confirmation or undo names: its control code or NSU, or nothing (every transaction
// answered since the last of them).
QByteArray Q7_Tef_Controller::settlePending(int decisao) {
    if (!library.RecuperarOperacaoTEF)
        return missingEntryPoint("RecuperarOperacaoTEF");
    QString controle;
    QString nsu;
    {
        QMutexLocker locker(&mutex);
        const QJsonObject parametros = jsonConfigs.value(QStringLiteral("parametros")).toObject();
        controle = parametros.value(QStringLiteral("finalizacao")).toString();
        nsu = parametros.value(QStringLiteral("numero_transacao")).toString();
    }
    const QList<PendingJournal::Entry> named = journal.toSettle(controle, nsu);
    if (named.isEmpty() && !(controle.isEmpty() && nsu.isEmpty()))
        Log().critical(QStringLiteral("[Q7_Tef_Controller] Nenhuma transação pendente com controle '%1' ou "
                                      "NSU '%2'; nada a liquidar: confira a transação com o suporte")
                           .arg(controle, nsu));
    // What an earlier request decided and the library refused is retried as it was decided.
    const QList<PendingJournal::Entry> entries = journal.decide(named, decisao);
    // Nothing is settled then: the transactions stay pending for a library that can.
    if (!entries.isEmpty() && !library.ConfirmarOperacaoTEF)
        return missingEntryPoint("ConfirmarOperacaoTEF");
    library.RecuperarOperacaoTEF(buildStartJson().constData());
    settle(entries);
    return QByteArray();
}

void Q7_Tef_Controller::settle(const QList<PendingJournal::Entry> &entries) {
    for (const PendingJournal::Entry &entry : entries) {
        const int decisao = entry.decisao;
        const QByteArray reply = replyOf(library.ConfirmarOperacaoTEF(entry.sequencial.toInt(), decisao));
        const QJsonObject result = parseObject(reply);
        if (ProtocoloSitef::resultNumber(result.value(QStringLiteral("codigo"))) == 0) {
            journal.remove(entry.sequencial);
            continue;
        }
        // Kept for the next confirmation, undo or start: support sees it meanwhile.
        Log().critical(
            QStringLiteral("[Q7_Tef_Controller] %1 da transação %2 (id %3) recusado pela biblioteca, "
                           "segue pendente: %4")
                .arg(decisao ? QStringLiteral("Confirmação") : QStringLiteral("Desfazimento"),
                     entry.sequencial, entry.id, QString::fromUtf8(reply)));
    }
}

// A transaction approved while its sales application was never told of it is undone: nobody
// will confirm it, and the customer must not pay for a sale the store has no record of. What
// the client decided and the library refused is retried as decided.
void Q7_Tef_Controller::recover(bool) {
    const QList<PendingJournal::Entry> unanswered = journal.unanswered();
    for (const PendingJournal::Entry &entry : qAsConst(unanswered))
        if (entry.decisao < 0)
            Log().critical(QStringLiteral("[Q7_Tef_Controller] Transação %1 (id %2) aprovada sem resposta "
                                          "entregue; desfazendo")
                               .arg(entry.sequencial, entry.id));
    settleIdle(journal.decide(unanswered, 0));
}

// Called between operations: the library is the GUI thread's for the moment.
void Q7_Tef_Controller::withdrawAnswer(const QString &dados) {
    const QString sequencial = sequencialOf(dados);
    if (sequencial.isEmpty()) // nothing approved
        return;
    const auto same = [&sequencial](const PendingJournal::Entry &entry) {
        return entry.sequencial == sequencial;
    };
    const QList<PendingJournal::Entry> held = journal.entries();
    const auto found = std::find_if(held.cbegin(), held.cend(), same);
    if (found == held.cend())
        return Base_Controller::withdrawAnswer(dados);
    Log().critical(
        QStringLiteral("[Q7_Tef_Controller] Transação %1 (id %2): resposta não lida pela automação; "
                       "desfazendo")
            .arg(sequencial, found->id));
    const QList<PendingJournal::Entry> decided = journal.decide({*found}, 0);
    settleIdle({*std::find_if(decided.cbegin(), decided.cend(), same)});
}

// Settles `entries` as decided while no operation runs.
void Q7_Tef_Controller::settleIdle(const QList<PendingJournal::Entry> &entries) {
    if (entries.isEmpty() || !library.isLoaded())
        return;
    if (!library.RecuperarOperacaoTEF || !library.ConfirmarOperacaoTEF) {
        missingEntryPoint(library.RecuperarOperacaoTEF ? "ConfirmarOperacaoTEF" : "RecuperarOperacaoTEF");
        return;
    }
    library.RecuperarOperacaoTEF(buildStartJson().constData());
    settle(entries);
    if (library.FinalizarOperacaoTEF)
        library.FinalizarOperacaoTEF(1);
}

bool Q7_Tef_Controller::journalUsable(const QString &consequence) {
    QString reason;
    if (journal.usable(&reason))
        return true;
    Log().critical(
        QStringLiteral("[Q7_Tef_Controller] Registro de transações %1 indisponível (%2): %3; libere "
                       "o arquivo (permissão, antivírus) ou chame o suporte")
            .arg(journal.path(), reason, consequence));
    return false;
}

QString Q7_Tef_Controller::sequencialOf(const QString &dados) {
    return QJsonDocument::fromJson(dados.toUtf8())
        .object()
        .value(QStringLiteral("tef"))
        .toObject()
        .value(QStringLiteral("sequencial"))
        .toString();
}

void Q7_Tef_Controller::markAnswered(const QString &dados, const QString &controle) {
    const QString sequencial = sequencialOf(dados);
    if (!sequencial.isEmpty())
        journal.markAnswered(sequencial, controle);
}

QByteArray Q7_Tef_Controller::startOperation(const ProtocoloSitef &protocolo) {
    QByteArray replyText = library.IniciarOperacaoTEF
                               ? replyOf(library.IniciarOperacaoTEF(buildStartJson().constData()))
                               : missingEntryPoint("IniciarOperacaoTEF");
    const QJsonObject reply = parseObject(replyText);
    if (!reply.contains(QStringLiteral("tef"))) {
        Log().critical(QStringLiteral("[Q7_Tef_Controller]") +
                       reply.value(QStringLiteral("mensagem")).toString());
        Log().critical("[Q7_Tef_Controller] Erro ao iniciar operação de TEF");
        Log().info(QStringLiteral("[Q7_Tef_Controller] resp inicialização: ") + QString::fromUtf8(replyText));
        return replyText;
    }
    // A result, text or number, refuses the start unless it is 0.
    const QJsonValue resultado =
        reply.value(QStringLiteral("tef")).toObject().value(QStringLiteral("resultadoTransacao"));
    if (!resultado.isUndefined() && !resultado.isNull() && ProtocoloSitef::resultNumber(resultado) != 0) {
        Log().critical("[Q7_Tef_Controller] Erro ao iniciar operação de TEF");
        Log().info(QStringLiteral("[Q7_Tef_Controller] resp inicialização: ") + QString::fromUtf8(replyText));
        return replyText;
    }

    clearScreen(record->valor());
    bringWindowToFront();
    emit showWindow(true);
    windowShown = true;
    emit textChanged(QStringLiteral("Processando transação..."));

    collect(protocolo, replyText);
    emit disableProgressBar(true);
    return replyText;
}

void Q7_Tef_Controller::collect(const ProtocoloSitef &protocolo, QByteArray &replyText) {
    const QString header = record->header();
    const bool callsLibrary =
        header == protocolo.OP_CRT || header == protocolo.OP_CNC || header == protocolo.OP_ADM;
    bool available = true;
    const auto call = [&available, &replyText](auto entryPoint, const char *name, int first,
                                               const QByteArray &transacao, int novaTransacao) {
        if (entryPoint) {
            replyText = replyOf(entryPoint(first, transacao.constData(), novaTransacao));
        } else {
            available = false;
            replyText = missingEntryPoint(name);
        }
    };

    bool first = true;
    bool again = true;
    bool stopSent = false; // a stop of the service has gone out to the library
    while (again) {
        QByteArray transacao;
        {
            QMutexLocker locker(&mutex);
            // A cancel that came before this prompt armed its wait is the operator's answer.
            if (cancelPending)
                waitingForOperator = false;
            waitForOperatorLocked();
            // Stopped before the first call: no payment is started at all.
            if (first && (cancelPending || isInterruptionRequested())) {
                replyText =
                    QJsonDocument(QJsonObject{{QStringLiteral("codigo"), -1},
                                              {QStringLiteral("mensagem"),
                                               cancelPending ? QStringLiteral("Operação cancelada")
                                                             : QStringLiteral("Operação interrompida")}})
                        .toJson(QJsonDocument::Compact);
                cancelPending = false;
                break;
            }
            // The first call carries the transaction, not the collection state: a cancel can
            // only go out from the second on.
            if (!first && (cancelPending || isInterruptionRequested())) {
                jsonConfigs = QJsonObject{{kColetaRetorno, QStringLiteral("9")},
                                          {kColetaSequencial, jsonConfigs.value(kColetaSequencial)}};
                cancelPending = false;
                stopSent = isInterruptionRequested();
            }
            transacao = buildTransactionJson(first);
        }
        // The mutex is not held across the library call: a call may block for as long as the
        // card holder takes, and a button handler must never wait for that.
        emit disableProgressBar(false);
        const int novaTransacao = first ? 1 : 0;
        if (header == protocolo.OP_CRT) {
            emit firstTextChanged(saleTitle(record->tipoCartao()) + formatCurrency(record->valor()));
            call(library.RealizarPagamentoTEF, "RealizarPagamentoTEF", record->tipoCartao(), transacao,
                 novaTransacao);
        } else if (header == protocolo.OP_CNC) {
            emit firstTextChanged(QStringLiteral("Cancelamento\n Valor: ") + formatCurrency(record->valor()));
            call(library.RealizarAdmTEF, "RealizarAdmTEF", 1, transacao, novaTransacao);
        } else if (header == protocolo.OP_ADM) {
            emit firstTextChanged(QStringLiteral("Operação Administrativa"));
            call(library.RealizarAdmTEF, "RealizarAdmTEF", record->codigoTransacao(), transacao,
                 novaTransacao);
        }
        const QJsonObject reply = parseObject(replyText);
        // On disk the moment the approval is in, before even the log: a stop from here on
        // either answers the sale or undoes it at the next start.
        const QJsonObject tef = reply.value(QStringLiteral("tef")).toObject();
        const QString sequencial = tef.value(QStringLiteral("sequencial")).toString();
        if (ProtocoloSitef::resultNumber(tef.value(QStringLiteral("resultadoTransacao"))) == 0 &&
            !sequencial.isEmpty())
            journal.add({sequencial, record->identificacao(), QString(),
                         tef.value(QStringLiteral("nsuTerminal")).toString(),
                         QDateTime::currentDateTime().toString(Qt::ISODate), false});
        Log().info(QStringLiteral("[Q7_Tef_Controller] ") + QString::fromUtf8(replyText));
        bool cancelled;
        {
            QMutexLocker locker(&mutex);
            copyCollectionState(reply);
            cancelled = cancelPending || isInterruptionRequested();
        }
        // A cancelled dialogue shows no further prompt: it would only wait for an answer that
        // the next pass replaces with the cancel.
        if (!cancelled)
            showScreen(reply);
        // Without a library call the same reply would come back on every pass; a library that
        // goes on after the service's stop is left at that.
        again = callsLibrary && available && !stopSent && needsCollection(reply);
        first = false;
    }
    // A last screen with a prompt armed a wait that no pass will honour; left armed it would
    // block the next operation's first pass.
    releaseOperatorWait();
}

void Q7_Tef_Controller::finish(const QJsonObject &identificacao, const QByteArray &replyText) {
    if (library.FinalizarOperacaoTEF)
        library.FinalizarOperacaoTEF(1);
    else
        missingEntryPoint("FinalizarOperacaoTEF");

    // "header" and "id" are how the sales application matches its request, so the
    // identification wins over a reply member of the same name.
    QJsonObject response = parseObject(replyText);
    for (auto it = identificacao.constBegin(); it != identificacao.constEnd(); ++it)
        response.insert(it.key(), it.value());
    if (!requisicao.isEmpty())
        response.insert(QStringLiteral("requisicao"), requisicao);

    // Time to read the last screen; none when nothing was shown (a confirmation, a refused
    // start), or the sales application's next request would wait for nothing.
    answer(compact(response), windowShown ? 1000 : 0);
    windowShown = false;
    emit textChanged(QStringLiteral("TEF em processamento..."));
    emit disableProgressBar(false);
    emit disableButtonOK(true);
    emit disableButtonCancelar(true);
}

void Q7_Tef_Controller::showScreen(const QJsonValue &tela) {
    const QJsonObject reply = tela.toObject();
    if (!reply.contains(QStringLiteral("codigo"))) {
        emit showMessageError(QStringLiteral("ERRO DESCONHECIDO"));
        return;
    }
    if (ProtocoloSitef::resultNumber(reply.value(QStringLiteral("codigo"))) != 0) {
        const QString mensagem = reply.value(QStringLiteral("mensagem")).toString();
        emit showMessageError(mensagem);
        emit textChanged(mensagem);
        return;
    }

    const QJsonObject tef = reply.value(QStringLiteral("tef")).toObject();
    emit disableButtonOK(true);
    emit disableButtonVoltar(true);
    emit disableButtonCancelar(true);
    emit disableTextField(true);
    emit disableListView(true);
    emit textChanged(QString());
    const QString mensagem = tef.value(QStringLiteral("mensagemResultado")).toString();
    if (!mensagem.isEmpty())
        emit textChanged(mensagem);

    const bool isList = tef.contains(QStringLiteral("automacao_coleta_opcao"));
    if (!isList && !tef.contains(QStringLiteral("automacao_coleta_tipo")))
        return;

    // Armed before anything that can answer is shown: a press that came before the arm would
    // otherwise be undone by it and the thread would wait for good.
    armOperatorWait();
    if (isList) {
        // Split keeps empty parts: a trailing ";" is a last, empty option.
        const QStringList options =
            tef.value(QStringLiteral("automacao_coleta_opcao")).toString().split(QLatin1Char(';'));
        {
            QMutexLocker locker(&mutex);
            optionList = options;
        }
        emit clearItemsList();
        for (const QString &option : options)
            emit addItemList(option);
        emit disableListView(false);
    } else {
        emit disableTextField(false);
    }
    emit disableButtonCancelar(false);
    emit disableButtonOK(false);
    emit disableProgressBar(true);
}

void Q7_Tef_Controller::onClickButtonOK(const QString &valorOfTextField, int estado) {
    // An answer that is no answer leaves the prompt as it is, waiting, with its buttons: only
    // the error box and the input's focus change.
    QString answer;
    if (estado == 1) {
        if (valorOfTextField.isEmpty()) {
            emit showMessageError(QStringLiteral("Preencha um valor!"));
            emit disableTextField(false);
            return;
        }
        answer = valorOfTextField;
    } else if (estado == 2) {
        bool isNumber = false;
        const int index = valorOfTextField.toInt(&isNumber, 10);
        QMutexLocker locker(&mutex);
        // The window sends -1 when no row is current; that is no answer, so keep waiting.
        if (!isNumber || index < 0 || index >= optionList.size()) {
            locker.unlock();
            emit showMessageError(QStringLiteral("Selecione uma opção!"));
            emit disableListView(false);
            return;
        }
        answer = optionList.at(index);
    }

    emit disableButtonCancelar(true);
    emit disableButtonOK(true);
    emit disableButtonVoltar(true);
    emit disableTextField(true);
    emit disableListView(true);
    emit textChanged(QStringLiteral("Processando..."));
    emit disableProgressBar(false);
    if (answer.isNull()) {
        emit showMessageError(QStringLiteral("Erro desconhecido!"));
    } else {
        QMutexLocker locker(&mutex);
        jsonConfigs.insert(kColetaInformacao, answer);
    }
    releaseOperatorWait();
}

void Q7_Tef_Controller::onClickButtonVoltar() {}

void Q7_Tef_Controller::onClickButtonCancelar() {
    emit disableButtonCancelar(true);
    emit disableButtonOK(true);
    emit disableButtonVoltar(true);
    emit disableTextField(true);
    emit disableListView(true);
    emit disableProgressBar(false);
    emit textChanged(QStringLiteral("Processando..."));
    {
        QMutexLocker locker(&mutex);
        jsonConfigs.insert(kColetaRetorno, QStringLiteral("9"));
        cancelPending = true;
    }
    releaseOperatorWait();
}

QString Q7_Tef_Controller::abandonedResponse(const QString &mensagem) const {
    return compact(QJsonObject{{QStringLiteral("header"), record->header()},
                               {QStringLiteral("id"), record->identificacao()},
                               {QStringLiteral("codigo"), -1},
                               {QStringLiteral("mensagem"), mensagem}});
}
