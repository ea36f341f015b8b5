#include "controllers/Pagora_Controller.h"

#include "base/Log.h"
#include "base/Pause.h"
#include "exchange/ProtocoloSitef.h"

#include <QDate>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QTime>
#include <algorithm>
#include <climits>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

namespace {

QStringList saleMenu() {
    return {QStringLiteral("Pagamento débito"), QStringLiteral("Pagamento crédito")};
}

QStringList adminMenu() {
    return {QStringLiteral("Configuração TEF"), QStringLiteral("Reimpressão de comprovante"),
            QStringLiteral("Cancelamento de venda")};
}

QJsonObject objectOf(const QString &json) {
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

// An item of the library's transaction data ("Nsu:123,ValorTrans:1000,...").
QString itemOf(const QString &dadosTransacao, const QString &name) {
    for (const QString &item : dadosTransacao.split(QLatin1Char(',')))
        if (item.startsWith(name + QLatin1Char(':')))
            return item.mid(name.size() + 1);
    return QString();
}

QJsonObject component(const QString &name, const QString &content) {
    return QJsonObject{{QStringLiteral("NomeComponenteTela"), name},
                       {QStringLiteral("ConteudoComponenteTela"), content},
                       {QStringLiteral("TipoVisor"), QStringLiteral("operador")}};
}

// The operation a built-in menu option stands for; INT_MIN for none.
int operationOf(const QString &option) {
    if (option == QStringLiteral("Pagamento débito"))
        return 1;
    if (option == QStringLiteral("Pagamento crédito"))
        return 2;
    if (option == QStringLiteral("Configuração TEF"))
        return 4;
    if (option == QStringLiteral("Reimpressão de comprovante"))
        return 128;
    if (option == QStringLiteral("Cancelamento de venda"))
        return 12;
    return INT_MIN;
}

} // namespace

Pagora_Controller::Pagora_Controller(QObject *parent, const QString &libraryPath,
                                     const QString &journalDirectory)
    : Base_Controller(parent)
    , api(libraryPath)
    , resposta(std::make_unique<RespostaTef>())
    , journal(journalDirectory.isEmpty() ? QString()
                                         : journalDirectory + QLatin1Char('/') + QLatin1String(kJournalName),
              QStringLiteral("[Pagora_Controller]")) {
    if (api.isLoaded())
        Log().info("[Pagora_Controller] API carregada com sucesso");
    else
        Log().critical("[Pagora_Controller] Erro ao carregar a biblioteca da APITEFOrvix");
}

Pagora_Controller::~Pagora_Controller() {
    // A flow waiting for the operator would keep the thread alive forever.
    requestInterruption();
    wait();

    const Log log;
    log.info("[Pagora_Controller] FINALIZANDO Q7_PAGORA_PASSIVO...");
    if (api.finalizarOperacaoTEF) {
        const int result = api.finalizarOperacaoTEF(1);
        if (result == 0)
            log.info("[Pagora_Controller] Q7_PAGORA_Passivo PRONTO PARA SER ENCERRADO COM SEGURANÇA");
        else
            log.critical(QStringLiteral("[Pagora_Controller] FINALIZAÇÃO DA AUTOMAÇÃO COM PROBLEMAS. CÓD: ") +
                         QString::number(result));
    } else {
        missing("OrvixTEF_FinalizarOperacaoTEF");
    }
    if (!api.isLoaded())
        return;
    if (api.unload())
        log.info("[Pagora_Controller] Biblioteca TEF liberada");
    else
        log.critical("[Pagora_Controller] Falha ao liberar Biblioteca TEF");
}

void Pagora_Controller::setJsonConfigs(const QString &value) {
    const QJsonObject document = objectOf(value);
    const QJsonObject params = document.value(QLatin1String("parametros")).toObject();
    auto newResponse = std::make_unique<RespostaTef>();
    newResponse->setId(params.value(QLatin1String("identificacao")).toString());
    newResponse->setHeader(document.value(QLatin1String("header")).toString());
    newResponse->setDocumentoFiscalVinculado(params.value(QLatin1String("documento")).toString());
    newResponse->setRequisicao(ProtocoloSitef::requestFallback(document));
    {
        QMutexLocker locker(&mutex);
        jsonConfigs = document;
        resposta = std::move(newResponse);
        cancelPending = false;
    }
    Log().debug(QStringLiteral("[Pagora_Controller] setJsonConfigs") + value);
}

void Pagora_Controller::processTef() {
    const Log log;
    log.info("[Pagora_Controller] INICIANDO OPERACAO TEF");
    if (!api.isLoaded()) {
        finish(QJsonObject(), QStringLiteral("Erro ao carregar a biblioteca da APITEFOrvix"));
        return;
    }

    bool invalid;
    QString errorText;
    QString header;
    QString amount;
    {
        QMutexLocker locker(&mutex);
        invalid = jsonConfigs.contains(QLatin1String("msg_erro"));
        errorText = jsonConfigs.value(QLatin1String("msg_erro")).toString();
        header = jsonConfigs.value(QLatin1String("header")).toString();
        amount = jsonConfigs.value(QLatin1String("parametros"))
                     .toObject()
                     .value(QLatin1String("valor"))
                     .toString();
        if (invalid)
            answerError(errorText);
    }
    clearScreen(amount);
    if (invalid) {
        bringWindowToFront();
        emit showWindow(true);
        emit textChanged(errorText);
        QString json;
        {
            QMutexLocker locker(&mutex);
            json = resposta->toJsonString();
        }
        answer(json, 3000);
        return;
    }

    const int operation = currentOperation();
    switch (operation) {
    case -7:
        finish(QJsonObject(), settle(decided(0)));
        return;
    case -6:
        finish(QJsonObject(), settle(decided(1)));
        return;
    case -20:
        log.debug("[Pagora_Controller] Operação desconhecida");
        // "ATV" only asks whether the service is alive: not an error.
        finish(QJsonObject(),
               header == QLatin1String("ATV") ? Failure() : QStringLiteral("Operação desconhecida"));
        return;
    default:
        break;
    }

    bringWindowToFront();
    emit showWindow(true);
    windowShown = true;
    setProsseguir(true);
    emit disableProgressBar(false);
    log.debug(QStringLiteral("[Pagora_Controller] JSON IN: ") + initialCapture());

    Failure failure;
    if (operation != 4)
        failure = authenticateAndStart();
    QJsonObject lastScreen;
    if (failure.isEmpty())
        failure = captureLoop(lastScreen);
    {
        QMutexLocker locker(&mutex);
        resposta->setOperacao(jsonConfigs.value(QLatin1String("operacao")).toInt(0));
    }
    if (!failure.isEmpty())
        emit textChanged(failure);
    finish(lastScreen, failure, currentOperation());
}

// A sale the library may hold for a decision that will never come is undone; one its sales
// application was told of, as the first card of a split payment, waits for its CNF or NCN.
void Pagora_Controller::recover(bool unknownOutcome) {
    const QList<PendingJournal::Entry> held = journal.entries();
    if (!api.isLoaded() || (held.isEmpty() && !unknownOutcome))
        return;
    const Log log;
    if (held.isEmpty()) {
        log.critical("[Pagora_Controller] Operação interrompida pela parada anterior; desfazendo o que a "
                     "biblioteca tiver pendente");
        settle(0);
        return;
    }
    const PendingJournal::Entry &pending = held.last();
    const QString which = QStringLiteral("id %1, NSU %2").arg(pending.id, pending.nsu);
    if (pending.decisao < 0 && pending.respondida) {
        if (unknownOutcome)
            log.critical(QStringLiteral("[Pagora_Controller] Operação interrompida pela parada anterior; a "
                                        "transação pendente na biblioteca (%1) foi entregue à automação e "
                                        "aguarda sua CNF ou NCN: nada desfeito")
                             .arg(which));
        return;
    }
    if (pending.decisao < 0)
        log.critical(
            QStringLiteral("[Pagora_Controller] Transação %1 aprovada sem resposta entregue; desfazendo")
                .arg(which));
    settle(decided(0));
}

// Called between operations: the library is the GUI thread's for the moment.
void Pagora_Controller::withdrawAnswer(const QString &dados) {
    const QJsonObject response = objectOf(dados);
    const PendingJournal::Entry approval = approvalOf(response);
    if (approval.sequencial.isEmpty()) // nothing approved
        return;
    const QList<PendingJournal::Entry> held = journal.entries();
    if (held.isEmpty() || held.last().sequencial != approval.sequencial || !api.isLoaded())
        return Base_Controller::withdrawAnswer(dados);
    Log().critical(QStringLiteral("[Pagora_Controller] %1: resposta não lida pela automação; desfazendo")
                       .arg(describeTransaction(response)));
    settle(decided(0));
}

int Pagora_Controller::decided(int decision) {
    const QList<PendingJournal::Entry> held = journal.entries();
    return held.isEmpty() ? decision : journal.decide(held, decision).last().decisao;
}

PendingJournal::Entry Pagora_Controller::approvalOf(const QJsonObject &response) {
    const int operacao = response.value(QLatin1String("operacao")).toInt();
    if (response.value(QLatin1String("resultado")).toInt(-1) != 0 ||
        (operacao != 1 && operacao != 2 && operacao != 12))
        return {};
    const QString id = QString::number(response.value(QLatin1String("id")).toVariant().toLongLong());
    const QString nsu =
        itemOf(response.value(QLatin1String("dados_transacao")).toString(), QStringLiteral("Nsu"));
    return {id + QLatin1Char('/') + nsu,
            id,
            QString(),
            nsu,
            QDateTime::currentDateTime().toString(Qt::ISODate),
            false};
}

void Pagora_Controller::markAnswered(const QString &dados, const QString &controle) {
    const PendingJournal::Entry approval = approvalOf(objectOf(dados));
    if (!approval.sequencial.isEmpty())
        journal.markAnswered(approval.sequencial, controle);
}

QString Pagora_Controller::describeTransaction(const QJsonObject &response) const {
    const QString dados = response.value(QLatin1String("dados_transacao")).toString();
    return QStringLiteral("id %1, NSU %2, valor %3")
        .arg(QString::number(response.value(QLatin1String("id")).toVariant().toLongLong()),
             itemOf(dados, QStringLiteral("Nsu")), itemOf(dados, QStringLiteral("ValorTrans")));
}

Pagora_Controller::Failure Pagora_Controller::settle(int decision) {
    const Log log;
    const bool confirming = decision == 1;
    log.info(confirming ? "[Pagora_Controller] CONFIRMAÇÃO DA TRANSAÇÃO"
                        : "[Pagora_Controller] NÃO CONFIRMAÇÃO DA TRANSAÇÃO");
    if (!api.confirmarOperacaoTEF)
        return missing("OrvixTEF_ConfirmarOperacaoTEF");
    const int result = api.confirmarOperacaoTEF(decision);
    if (result != 0) {
        const QString error = (confirming ? QStringLiteral("ERRO NA CONFIRMAÇÂO: ")
                                          : QStringLiteral("ERRO NA CANCELAMENTO: ")) +
                              QString::number(result);
        // Kept, with the decision, for the next CNF, NCN or start.
        log.critical(QStringLiteral("[Pagora_Controller] ") + error);
        return error;
    }
    journal.reset({});
    log.info(confirming ? "[Pagora_Controller] CONFIRMAÇÃO DA TRANSAÇÃO: OK"
                        : "[Pagora_Controller] NÃO CONFIRMAÇÃO DA TRANSAÇÃO: OK");
    if (!api.finalizarOperacaoTEF)
        return missing("OrvixTEF_FinalizarOperacaoTEF");
    const int finalized = api.finalizarOperacaoTEF(0);
    if (finalized == 0)
        log.info("[Pagora_Controller] TRANSAÇÃO FINALIZADA COM SUCESSO!");
    else
        log.info("[Pagora_Controller] FINALIZAÇÃO DA TRANSAÇÃO COM PROBLEMAS. CÓD: ", finalized);
    return Failure();
}

Pagora_Controller::Failure Pagora_Controller::authenticateAndStart() {
    const Log log;
    if (!api.autenticador)
        return missing("OrvixTEF_Autenticador");
    const int authentication = api.autenticador();
    if (authentication != 0) {
        const QString error = QStringLiteral("Erro ao autenticar - [Erro: %1]").arg(authentication);
        log.critical(QStringLiteral("[Pagora_Controller] ") + error);
        return error;
    }
    log.info("[Pagora_Controller] Autenticação realizada com sucesso");
    if (!api.iniciarOperacaoTEF)
        return missing("OrvixTEF_IniciarOperacaoTEF");
    const int started = api.iniciarOperacaoTEF();
    log.info("[Pagora_Controller] Resultado inicio operacao", started);
    if (started != 0)
        return QStringLiteral("Erro ao iniciar operação TEF - [Erro: %1]").arg(started);
    return Failure();
}

namespace {

// One library step. The buffer is ours: at least ten times the size the library asked
// for, never smaller than the document plus its zero, and read back only up to its end.
template <typename Step> QString callStep(const QString &capture, int &bufferSize, Step step) {
    const QByteArray input = capture.toUtf8();
    const qint64 requested = 10LL * qBound(0, bufferSize, INT_MAX / 10);
    const size_t capacity = static_cast<size_t>(std::max<qint64>(requested, qint64(input.size()) + 1));
    std::vector<char> buffer(capacity, '\0');
    std::memcpy(buffer.data(), input.constData(), static_cast<size_t>(input.size()));
    step(buffer.data(), &bufferSize);
    const auto ended = std::find(buffer.begin(), buffer.end(), '\0');
    return QString::fromLocal8Bit(buffer.data(), static_cast<int>(ended - buffer.begin()));
}

} // namespace

Pagora_Controller::Failure Pagora_Controller::captureLoop(QJsonObject &screen) {
    int bufferSize = 1024;
    int sequence = 0;
    bool aborted = false;
    int unreadable = 0;
    bool stepped = false; // the library has taken a step of this flow
    // Stopped or cancelled before the library's first step: nothing is started there.
    const auto notStarted = [this, &stepped](bool cancelled) {
        if (stepped || !(cancelled || isInterruptionRequested()))
            return Failure();
        return cancelled ? QStringLiteral("Operação cancelada") : QStringLiteral("Operação interrompida");
    };
    do {
        bool goOn;
        {
            QMutexLocker locker(&mutex);
            // The service stops: the screen waiting for the operator is cancelled as
            // "CANCELAR" would, so the library ends its flow too.
            if (!prosseguir && isInterruptionRequested())
                cancelCapture();
            goOn = prosseguir;
        }
        if (!goOn) {
            Pause::sleep(250);
            aborted = false;
            continue;
        }
        Pause::sleep(1000);

        QString capture;
        int operation;
        {
            QMutexLocker locker(&mutex);
            capture = jsonCaptura;
            operation = jsonConfigs.value(QLatin1String("operacao")).toInt(0);
        }
        const QJsonObject doc = objectOf(capture);
        const bool cancelled = doc.value(QLatin1String("TipoFluxo")).toInt() == 2;
        if (cancelled) {
            QMutexLocker locker(&mutex);
            cancelPending = false; // it goes out now
        }

        QString reply;
        bool called = false;
        bool menu = false;
        switch (operation) {
        case 0:
        case -5:
            if (cancelled) {
                screen = endScreen(QStringLiteral("Operação encerrada pelo operador"), 65282);
            } else {
                screen = menuScreen(operation == 0 ? saleMenu() : adminMenu());
                menu = true;
            }
            break;
        case 1:
        case 2:
            if (!api.realizarPagamentoTEF)
                return missing("OrvixTEF_RealizarPagamentoTEF");
            if (const Failure stopped = notStarted(cancelled); !stopped.isEmpty())
                return stopped;
            reply = callStep(capture, bufferSize, [this, operation](char *buffer, int *size) {
                api.realizarPagamentoTEF(operation, buffer, size);
            });
            called = true;
            break;
        case 4:
            if (!api.realizarConfiguracao)
                return missing("OrvixTEF_RealizarConfiguracao");
            if (const Failure stopped = notStarted(cancelled); !stopped.isEmpty())
                return stopped;
            reply = callStep(capture, bufferSize,
                             [this](char *buffer, int *size) { api.realizarConfiguracao(buffer, size); });
            called = true;
            break;
        default:
            if (cancelled) {
                screen = endScreen(QStringLiteral("Operação encerrada pelo operador"), 65282);
            } else if (operation == 12 && doc.value(QLatin1String("InfoCaptura")).toString().isEmpty() &&
                       doc.value(QLatin1String("SequenciaCaptura")).toInt() == 0) {
                screen = amountPrompt(QStringLiteral("VALOR DA TRANSAÇÃO"));
            } else {
                if (!api.realizarAdmTEF)
                    return missing("OrvixTEF_RealizarAdmTEF");
                if (const Failure stopped = notStarted(cancelled); !stopped.isEmpty())
                    return stopped;
                reply = callStep(capture, bufferSize, [this, operation](char *buffer, int *size) {
                    api.realizarAdmTEF(operation, buffer, size);
                });
                called = true;
            }
            break;
        }

        if (called) {
            stepped = true;
            {
                QMutexLocker locker(&mutex);
                jsonCaptura = reply;
                // The built-in menu is gone: a list from now on is the library's.
                opcoesMenu.clear();
            }
            const QJsonDocument parsed = QJsonDocument::fromJson(reply.toUtf8());
            screen = parsed.object();
            // One unreadable document goes back to the library as it came; a library that
            // answers nothing else would keep the operation, and the sales application, waiting
            // for good.
            unreadable = parsed.isObject() ? 0 : unreadable + 1;
            if (unreadable >= kMaxUnreadableDocuments) {
                const QString error = QStringLiteral("Resposta inválida da biblioteca APITEFOrvix");
                Log().critical(QStringLiteral("[Pagora_Controller] ") + error);
                return error;
            }
        }
        if (menu) {
            aborted = false;
        } else {
            sequence = screen.value(QLatin1String("SequenciaCaptura")).toInt(0);
            aborted = screen.value(QLatin1String("AbortarFluxoCaptura")).toBool(false);
        }
        showScreen(screen.value(QLatin1String("ComponentesTela")));
        const bool ended = sequence == 99 || aborted;
        if (!ended) {
            QMutexLocker locker(&mutex);
            if (cancelPending || isInterruptionRequested()) {
                // A library that goes on after the service's cancel is left at that.
                if (cancelled && isInterruptionRequested())
                    return QStringLiteral("Operação interrompida");
                cancelCapture();
            }
        }
    } while (sequence != 99 && !aborted);
    return Failure();
}

void Pagora_Controller::finish(const QJsonObject &lastScreen, const Failure &failure, int operation) {
    setProsseguir(false);
    emit disableProgressBar(true);
    {
        QMutexLocker locker(&mutex);
        if (failure.isEmpty())
            resposta->setResultado(resultOf(lastScreen, operation));
        else
            answerError(failure);
    }
    // Time to read the last screen. Without one (confirmation, undo, "ATV") the sales
    // application, which sends "ATV" before every command, would wait for nothing.
    QString json;
    {
        QMutexLocker locker(&mutex);
        valorTransacao.clear();
        json = resposta->toJsonString();
    }
    // Recorded before anyone is told, in place of the one the library held before.
    const PendingJournal::Entry approval = approvalOf(objectOf(json));
    if (!approval.sequencial.isEmpty())
        journal.reset({approval});
    answer(json, windowShown ? 3000 : 0);
    windowShown = false;
}

// Call with the mutex held. 0 means approved to the sales application: an error never
// answers with it.
void Pagora_Controller::answerError(const QString &text) {
    resposta->setTextoOperador(text);
    resposta->setResultado(-1);
}

Pagora_Controller::Failure Pagora_Controller::missing(const char *entryPoint) const {
    const QString error = QStringLiteral("Função %1 não encontrada na biblioteca APITEFOrvix")
                              .arg(QString::fromLatin1(entryPoint));
    Log().critical(QStringLiteral("[Pagora_Controller] ") + error);
    return error;
}

// 0 tells the sales application the operation was approved. Without a screen (confirmation,
// undo, "ATV") it is 0; a reprint or configuration that ends without a status is done, but an
// aborted flow, or a payment or cancellation without its status, was not approved.
int Pagora_Controller::resultOf(const QJsonObject &lastScreen, int operation) {
    if (lastScreen.isEmpty())
        return 0;
    const QJsonValue given = lastScreen.value(QLatin1String("Status"));
    const std::optional<int> status = ProtocoloSitef::resultNumber(given);
    // A status that says no number ("OK", 0.5) is no approval, whatever the operation.
    if (!given.isUndefined() && !status)
        return -1;
    if (lastScreen.value(QLatin1String("AbortarFluxoCaptura")).toBool())
        return status && *status != 0 ? *status : -1;
    if (status)
        return *status;
    return operation == 1 || operation == 2 || operation == 12 ? -1 : 0;
}

int Pagora_Controller::currentOperation() {
    QMutexLocker locker(&mutex);
    return jsonConfigs.value(QLatin1String("operacao")).toInt(0);
}

void Pagora_Controller::setProsseguir(bool value) {
    QMutexLocker locker(&mutex);
    prosseguir = value;
}

void Pagora_Controller::store(void (RespostaTef::*setter)(const QString &), const QString &value) {
    QMutexLocker locker(&mutex);
    (resposta.get()->*setter)(value);
}

// Call with the mutex held.
void Pagora_Controller::cancelCapture() {
    QJsonObject capture = objectOf(jsonCaptura);
    capture.insert(QStringLiteral("TipoFluxo"), 2);
    publishCapture(capture);
}

// Call with the mutex held: the answer is published before prosseguir.
void Pagora_Controller::publishCapture(const QJsonObject &capture) {
    jsonCaptura = QString::fromUtf8(QJsonDocument(capture).toJson(QJsonDocument::Indented));
    prosseguir = true;
}

// Screens -----------------------------------------------------------------------------

void Pagora_Controller::showScreen(const QJsonValue &screen) {
    emit disableButtonOK(true);
    emit disableButtonVoltar(true);
    emit disableButtonCancelar(true);
    emit disableTextField(true);
    emit disableListView(true);
    emit firstTextChanged(QString());
    emit textChanged(QString());

    bool firstMessage = true;
    QString prompt; // the screen's labels so far: what a text box asks for
    const QJsonArray components = screen.toArray();
    for (const QJsonValue &item : components) {
        const QJsonObject component = item.toObject();
        const QString name = component.value(QLatin1String("NomeComponenteTela")).toString();
        const QString content = component.value(QLatin1String("ConteudoComponenteTela")).toString();

        if (name == QLatin1String("label")) {
            prompt += content + QLatin1Char('\n');
            int operation;
            QString amount;
            {
                QMutexLocker locker(&mutex);
                operation = jsonConfigs.value(QLatin1String("operacao")).toInt(0);
                amount = jsonConfigs.value(QLatin1String("parametros"))
                             .toObject()
                             .value(QLatin1String("valor"))
                             .toString();
                if (amount.isEmpty())
                    amount = valorTransacao;
            }
            if (operation == 4) {
                emit firstTextChanged(QStringLiteral("CONFIGURAÇÃO"));
                emit textChanged(content);
            } else if (component.value(QLatin1String("TipoVisor")).toString() == QLatin1String("operador")) {
                if (firstMessage) {
                    emit firstTextChanged(formatCurrency(amount) + QLatin1Char('\n') + content);
                    firstMessage = false;
                } else {
                    emit textChanged(content);
                }
            }
            if (content != QLatin1String("RETIRE O CARTAO"))
                store(&RespostaTef::setTextoOperador, content);
        } else if (name == QLatin1String("textbox")) {
            setProsseguir(false);
            emit disableProgressBar(true);
            emit disableTextField(false);
            emit textfiledChanged(requestValueFor(prompt, content));
        } else if (name == QLatin1String("button")) {
            if (content == QLatin1String("Prosseguir"))
                emit disableButtonOK(false);
            else if (content == QLatin1String("Voltar"))
                emit disableButtonVoltar(false);
            else if (content == QLatin1String("Cancelar"))
                emit disableButtonCancelar(false);
        } else if (name == QLatin1String("listbox")) {
            QString listText = content;
            listText.remove(QLatin1Char('\n'));
            listText.remove(QLatin1Char('\r'));
            const QJsonArray items =
                objectOf(listText.simplified()).value(QLatin1String("ArrayListBox")).toArray();
            {
                QMutexLocker locker(&mutex);
                prosseguir = false;
                listRows = items.size();
            }
            emit disableProgressBar(true);
            emit clearItemsList();
            for (const QJsonValue &option : items)
                emit addItemList(option.toObject().value(QLatin1String("ConteudoItem")).toString());
            emit disableListView(false);
            emit textChanged(QStringLiteral("Selecione"));
        } else if (name == QLatin1String("comprovanteloja")) {
            store(&RespostaTef::setComprovanteLoja, content);
        } else if (name == QLatin1String("comprovantecliente")) {
            store(&RespostaTef::setComprovanteCliente, content);
        } else if (name == QLatin1String("dadostransacao")) {
            store(&RespostaTef::setDadosTransacao, content);
        }
    }
}

// What the request holds of the value a library prompt asks for, the transaction a cancellation
// names, so that the operator only confirms it; in the form the prompt names, or else in that of
// the value the library shows. That value when the request holds none.
QString Pagora_Controller::requestValueFor(const QString &prompt, const QString &shown) {
    QJsonObject parametros;
    {
        QMutexLocker locker(&mutex);
        parametros = jsonConfigs.value(QLatin1String("parametros")).toObject();
    }
    const auto given = [&parametros](const char *name) {
        return parametros.value(QLatin1String(name)).toString();
    };
    const QString asked = prompt.toUpper();
    // Each form as prompts spell it, and as Qt does: one the prompt names, else one as long as the
    // value shown.
    const auto written = [&](const auto &value,
                             std::initializer_list<std::pair<const char *, const char *>> forms) {
        for (bool byPattern : {true, false})
            for (const auto &form : forms)
                if (value.isValid() && (byPattern ? asked.contains(QLatin1String(form.first))
                                                  : shown.size() == int(qstrlen(form.second))))
                    return value.toString(QString::fromLatin1(form.second));
        return shown;
    };
    if (asked.contains(QLatin1String("DATA")))
        return written(QDate::fromString(given("data_transacao"), QStringLiteral("ddMMyyyy")),
                       {{"DDMMAAAA", "ddMMyyyy"}, {"DDMMAA", "ddMMyy"}});
    if (asked.contains(QLatin1String("HORA")))
        return written(QTime::fromString(given("hora_transacao"), QStringLiteral("HHmmss")),
                       {{"HHMMSS", "HHmmss"}, {"HHMM", "HHmm"}});
    if (asked.contains(QLatin1String("NSU")) && !given("numero_transacao").isEmpty())
        return given("numero_transacao");
    return shown;
}

QString Pagora_Controller::initialCapture() {
    int operation;
    QString amount;
    {
        QMutexLocker locker(&mutex);
        operation = jsonConfigs.value(QLatin1String("operacao")).toInt(0);
        amount = jsonConfigs.value(QLatin1String("parametros"))
                     .toObject()
                     .value(QLatin1String("valor"))
                     .toString();
    }
    QJsonObject capture{{QStringLiteral("SequenciaCaptura"), 0},
                        {QStringLiteral("TipoFluxo"), 0},
                        {QStringLiteral("AbortarFluxoCaptura"), false},
                        {QStringLiteral("FormatoInfoCaptura"), 0}};
    QString amountDigits;
    if (operation == 4) {
        capture.insert(QStringLiteral("InfoCaptura"), QJsonValue::Null);
    } else {
        amountDigits = amount;
        amountDigits.remove(QLatin1Char(','));
        amountDigits.remove(QLatin1Char('.'));
        capture.insert(QStringLiteral("InfoCaptura"), amountDigits);
    }
    const QString json = QString::fromUtf8(QJsonDocument(capture).toJson(QJsonDocument::Compact));
    QMutexLocker locker(&mutex);
    if (operation != 4)
        valorTransacao = amountDigits;
    jsonCaptura = json;
    return json;
}

QJsonObject Pagora_Controller::menuScreen(const QStringList &options) {
    {
        QMutexLocker locker(&mutex);
        opcoesMenu = options;
    }
    QJsonArray items;
    for (const QString &option : options)
        items.append(QJsonObject{{QStringLiteral("ConteudoItem"), option}});
    const QString listText = QString::fromUtf8(
        QJsonDocument(QJsonObject{{QStringLiteral("ArrayListBox"), items}}).toJson(QJsonDocument::Compact));
    return QJsonObject{{QStringLiteral("ComponentesTela"),
                        QJsonArray{component(QStringLiteral("label"), QStringLiteral("LISTA DE OPERAÇÕES")),
                                   component(QStringLiteral("listbox"), listText),
                                   component(QStringLiteral("button"), QStringLiteral("Prosseguir")),
                                   component(QStringLiteral("button"), QStringLiteral("Cancelar"))}}};
}

QJsonObject Pagora_Controller::amountPrompt(const QString &message) {
    return QJsonObject{{QStringLiteral("SequenciaCaptura"), 1},
                       {QStringLiteral("TipoFluxo"), 1},
                       {QStringLiteral("InfoCaptura"), QString()},
                       {QStringLiteral("AbortarFluxoCaptura"), false},
                       {QStringLiteral("FormatoInfoCaptura"), 0},
                       {QStringLiteral("ComponentesTela"),
                        QJsonArray{component(QStringLiteral("label"), message),
                                   component(QStringLiteral("textbox"), QString()),
                                   component(QStringLiteral("button"), QStringLiteral("Prosseguir")),
                                   component(QStringLiteral("button"), QStringLiteral("Cancelar"))}}};
}

QJsonObject Pagora_Controller::endScreen(const QString &message, int status) {
    return QJsonObject{
        {QStringLiteral("SequenciaCaptura"), 99},
        {QStringLiteral("TipoFluxo"), 2},
        {QStringLiteral("InfoCaptura"), QString()},
        {QStringLiteral("AbortarFluxoCaptura"), false},
        {QStringLiteral("FormatoInfoCaptura"), 0},
        {QStringLiteral("Status"), status},
        {QStringLiteral("ComponentesTela"), QJsonArray{component(QStringLiteral("label"), message)}}};
}

// Handlers (GUI thread) ---------------------------------------------------------------

void Pagora_Controller::onClickButtonOK(const QString &valorOfTextField, int estado) {
    QMutexLocker locker(&mutex);
    QJsonObject capture = objectOf(jsonCaptura);
    if (estado == 1) {
        if (valorOfTextField.isEmpty()) {
            locker.unlock();
            emit showMessageError(QStringLiteral("Preencha um valor!"));
            emit disableTextField(false);
            return;
        }
        capture.insert(QStringLiteral("InfoCaptura"), valorOfTextField);
        const int operation = jsonConfigs.value(QLatin1String("operacao")).toInt(0);
        if (valorTransacao.isEmpty() &&
            (operation == 0 || operation == 1 || operation == 2 || operation == 12))
            valorTransacao = valorOfTextField;
    } else if (estado == 2) {
        bool isNumber = false;
        const int index = valorOfTextField.toInt(&isNumber);
        if (!isNumber || index < 0 || index >= listRows ||
            (!opcoesMenu.isEmpty() && index >= opcoesMenu.size())) {
            locker.unlock();
            emit showMessageError(QStringLiteral("Selecione uma opção!"));
            emit disableListView(false);
            return;
        }
        if (opcoesMenu.isEmpty()) {
            // A list of the library's own: the chosen row goes back to it.
            capture.insert(QStringLiteral("InfoCaptura"), valorOfTextField.trimmed());
        } else {
            const QString option = opcoesMenu.at(index);
            Log().debug(QStringLiteral("[Pagora_Controller] Opção selecionada: ") + option);
            const int operation = operationOf(option);
            if (operation != INT_MIN)
                jsonConfigs.insert(QStringLiteral("operacao"), operation);
        }
    } else {
        locker.unlock();
        emit textChanged(QStringLiteral("ERRO"));
        return;
    }
    capture.insert(QStringLiteral("TipoFluxo"), 1);
    publishCapture(capture);
    locker.unlock();
    emit disableProgressBar(false);
}

void Pagora_Controller::onClickButtonVoltar() {
    answerFlow(3);
}

void Pagora_Controller::onClickButtonCancelar() {
    answerFlow(2);
}

// "VOLTAR" and "CANCELAR" only tell the library where the flow goes next.
void Pagora_Controller::answerFlow(int flowType) {
    {
        QMutexLocker locker(&mutex);
        QJsonObject capture = objectOf(jsonCaptura);
        capture.insert(QStringLiteral("TipoFluxo"), flowType);
        publishCapture(capture);
        if (flowType == 2)
            cancelPending = true;
    }
    emit disableProgressBar(false);
}

QString Pagora_Controller::abandonedResponse(const QString &message) const {
    // Only what identifies the request: receipts of a flow cut short must not be printed.
    QJsonObject doc;
    {
        QMutexLocker locker(&mutex);
        doc = objectOf(resposta->toJsonString());
    }
    RespostaTef abandoned;
    abandoned.setId(doc.value(QLatin1String("id")).toString());
    abandoned.setHeader(doc.value(QLatin1String("header")).toString());
    abandoned.setDocumentoFiscalVinculado(doc.value(QLatin1String("documento_fiscal_vinculado")).toString());
    abandoned.setTextoOperador(message);
    abandoned.setResultado(-1);
    return abandoned.toJsonString();
}
