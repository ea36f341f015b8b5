#include "controllers/Q7_Bridge_Controller.h"

#include "base/Log.h"
#include "exchange/ProtocoloSitef.h"

#include <QJsonDocument>
#include <optional>

namespace {

const int codeError = -9999;

QString compact(const QJsonObject &object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// The reply the library would give for a failure, so that it is answered like any other.
QString errorReply(const QString &message) {
    return compact(QJsonObject{{QStringLiteral("q7_bridge_code"), codeError},
                               {QStringLiteral("q7_bridge_msg"), message}});
}

// The reply text of an entry point, none when the library lacks it. The text belongs to
// the library and is copied at once; a null pointer reads as an empty text.
template <typename Fn, typename... Args> std::optional<QString> invoke(Fn entryPoint, Args... args) {
    if (!entryPoint)
        return std::nullopt;
    return QString::fromUtf8(entryPoint(args...));
}

} // namespace

Q7_Bridge_Controller::Q7_Bridge_Controller(QObject *parent, const QString &libraryPath)
    : Base_Controller(parent)
    , library(libraryPath) {
    if (library.isLoaded())
        Log().info("[Q7_Bridge_Controller] API carregada com sucesso");
    else
        Log().critical("[Q7_Bridge_Controller] Erro ao carregar a biblioteca do Q7_Bridge");
}

Q7_Bridge_Controller::~Q7_Bridge_Controller() {
    // A call in progress must not lose its library.
    wait();
    if (library.unload())
        Log().info("[Q7_Bridge_Controller] Biblioteca Q7_Bridge liberada");
    else
        Log().critical("[Q7_Bridge_Controller] Falha ao liberar biblioteca Q7_Bridge");
}

void Q7_Bridge_Controller::setJsonConfigs(const QString &value) {
    Log().info(QStringLiteral("[Q7_Bridge_Controller] setJsonConfigs: ") + value);
    {
        QMutexLocker locker(&mutex);
        jsonConfigs = QJsonDocument::fromJson(value.toUtf8()).object();
    }

    const QJsonObject parametros = jsonConfigs.value(QStringLiteral("parametros")).toObject();
    const auto parametro = [&parametros](const char *key) {
        return parametros.value(QLatin1String(key)).toString();
    };

    auto next = std::make_unique<Q7_Bridge_VO>();
    next->setOperacao(jsonConfigs.value(QStringLiteral("header")).toString());
    next->setIdTransacao(parametro("identificacao"));
    next->setPdv(parametro("numero_pdv"));
    next->setValorTotal(parametro("valor"));
    next->setTipoCartao(parametro("tipo_cartao"));
    next->setFinanciamento(parametro("tipo_parcelamento"), parametro("quantidade_parcelas"));
    next->setNsu(parametro("numero_transacao"));
    next->setDataHora(parametro("data_transacao"), parametro("hora_transacao"));
    record = std::move(next);
}

// The bridge library can neither be asked how an operation ended nor undo it: support settles it.
void Q7_Bridge_Controller::recover(bool unknownOutcome) {
    if (unknownOutcome)
        Log().critical("[Q7_Bridge_Controller] A biblioteca Q7_Bridge não desfaz transações; a operação "
                       "interrompida deve ser conferida");
}

void Q7_Bridge_Controller::onClickButtonOK(const QString &, int) {}
void Q7_Bridge_Controller::onClickButtonVoltar() {}
void Q7_Bridge_Controller::onClickButtonCancelar() {}
void Q7_Bridge_Controller::showScreen(const QJsonValue &) {}

QString Q7_Bridge_Controller::abandonedResponse(const QString &mensagem) const {
    const Q7_Bridge_VO current = record ? *record : Q7_Bridge_VO();
    return compact(QJsonObject{{QStringLiteral("header"), current.operacao()},
                               {QStringLiteral("operacao"), current.operacao()},
                               {QStringLiteral("q7_pdv"), current.pdv()},
                               {QStringLiteral("identificadorTransacaoAutomacao"), current.identificacao()},
                               {QStringLiteral("q7_bridge_code"), codeError},
                               {QStringLiteral("q7_bridge_msg"), mensagem},
                               {QStringLiteral("resultadoTransacao"), codeError},
                               {QStringLiteral("mensagemResultado"), mensagem}});
}

void Q7_Bridge_Controller::processTef() {
    const Log log;
    log.info("[Q7_Bridge_Controller] INICIANDO OPERACAO Q7_BRIDGE");

    const ProtocoloSitef protocolo;
    // Started without a request: answered as an unknown operation.
    const Q7_Bridge_VO current = record ? *record : Q7_Bridge_VO();
    const QString operacao = current.operacao();
    const QString idTransacao = current.identificacao();
    const QString pdv = current.pdv();

    if (operacao == protocolo.OP_NCN) {
        // Support must see it: the sale the sales application gives up stays as the library left it.
        QString detalhe = QStringLiteral("id ") + idTransacao;
        if (!current.nsu().isEmpty())
            detalhe += QStringLiteral(", NSU ") + current.nsu();
        log.critical(
            QStringLiteral("[Q7_Bridge_Controller] A biblioteca Q7_Bridge não desfaz transações; NCN "
                           "sem efeito (%1)")
                .arg(detalhe));
    }
    if (operacao == protocolo.OP_CNF || operacao == protocolo.OP_NCN || operacao == protocolo.OP_ATV) {
        const QJsonObject result{{QStringLiteral("header"), operacao},
                                 {QStringLiteral("identificadorTransacaoAutomacao"), idTransacao}};
        emit responseProcessTEF(compact(result));
        log.info("[Q7_Bridge_Controller] FIM DA OPERACAO Q7_BRIDGE");
        return;
    }

    clearScreen(current.valorTotal());
    bringWindowToFront();
    emit showWindow(true);
    emit disableProgressBar(false);
    emit textChanged(QStringLiteral("Processando transação..."));

    const auto showFailure = [this, &log](const QString &message) {
        log.critical(QStringLiteral("[Q7_Bridge_Controller] Erro: ") + message);
        emit textChanged(message);
        emit disableProgressBar(true);
    };

    QString reply;
    const QString msgErro = QStringLiteral("msg_erro");
    if (!library.isLoaded()) {
        // Still answered, or the sales application would wait for a response forever.
        const QString message = QStringLiteral("Biblioteca Q7_Bridge não carregada");
        showFailure(message);
        reply = errorReply(message);
    } else if (jsonConfigs.contains(msgErro)) {
        // Answered as a failure of the library: the sales application shows why in 030-000.
        const QString message = jsonConfigs.value(msgErro).toString();
        showFailure(message);
        reply = errorReply(message);
    } else if ((operacao == protocolo.OP_CRT || operacao == protocolo.OP_CNC ||
                operacao == protocolo.OP_ADM) &&
               !current.idFitsLibrary()) {
        // The library takes the identification as an int: rather than a sale under another
        // number (-1 for every one that does not fit), none.
        const QString message = QStringLiteral("Identificação [%1] não aceita pela biblioteca Q7_Bridge "
                                               "(número inteiro até 2147483647); transação não realizada, "
                                               "reenvie com outra identificação")
                                    .arg(idTransacao);
        showFailure(message);
        reply = errorReply(message);
    } else if (isInterruptionRequested()) {
        // Stopped before the call: nothing was started, nothing charged.
        const QString message = QStringLiteral("Operação interrompida");
        showFailure(message);
        reply = errorReply(message);
    } else {
        reply = callLibrary(current, protocolo, showFailure);
    }

    QJsonObject result = QJsonDocument::fromJson(reply.toUtf8()).object();
    int code =
        ProtocoloSitef::resultNumber(result.value(QStringLiteral("q7_bridge_code"))).value_or(codeError);
    QString message = result.value(QStringLiteral("q7_bridge_msg")).toString();
    if (message.trimmed().isEmpty())
        message = QStringLiteral("Erro desconhecido");
    // The sales application reads approval in the result alone: one that holds no number is
    // answered as a failure of the library, never as the 0 it would become on the way.
    const QJsonValue given = result.value(QStringLiteral("resultadoTransacao"));
    const std::optional<int> resultado = ProtocoloSitef::resultNumber(given);
    if (code == 0 && !resultado) {
        log.critical(
            QStringLiteral("[Q7_Bridge_Controller] Resultado da transação não reconhecido na resposta "
                           "da biblioteca Q7_Bridge (%1); respondida como não aprovada, conferir com "
                           "o suporte antes de repetir")
                .arg(given.isUndefined()
                         ? QStringLiteral("ausente")
                         : compact(QJsonObject{{QStringLiteral("resultadoTransacao"), given}})));
        code = codeError;
        message = QStringLiteral("Resultado da transação não reconhecido. Confira antes de repetir");
    }
    QString statusLine;
    if (code == 0) {
        QString mensagem =
            result.value(QStringLiteral("mensagemResultado")).toString(QStringLiteral("Fim da transação"));
        // The operator of the sales application sees this text alone for a decline.
        if (*resultado != 0 &&
            result.value(QStringLiteral("mensagemResultado")).toString().trimmed().isEmpty()) {
            mensagem = QStringLiteral("Transação não aprovada");
            result.insert(QStringLiteral("mensagemResultado"), mensagem);
        }
        result.insert(QStringLiteral("resultadoTransacao"), *resultado);
        statusLine = QStringLiteral("[%1] %2").arg(QString::number(*resultado), mensagem);
    } else {
        statusLine = QStringLiteral("[%1] %2").arg(QString::number(code), message);
    }
    log.info(QStringLiteral("[Q7_Bridge_Controller] Status: ") + statusLine);
    emit textChanged(statusLine);
    emit disableProgressBar(true);

    result.insert(QStringLiteral("operacao"), operacao);
    result.insert(QStringLiteral("q7_pdv"), pdv);
    result.insert(QStringLiteral("identificadorTransacaoAutomacao"), idTransacao);
    const QJsonObject fallback = ProtocoloSitef::requestFallback(jsonConfigs);
    if (!fallback.isEmpty())
        result.insert(QStringLiteral("requisicao"), fallback);
    if (code != 0) {
        result.insert(QStringLiteral("resultadoTransacao"), code);
        result.insert(QStringLiteral("mensagemResultado"), message);
    }

    // Leaves the operator time to read the status line.
    answer(compact(result), 3000);
    // What the window holds when it is shown again, for example from the tray.
    emit textChanged(QStringLiteral("%1\n%2").arg(statusLine, QStringLiteral("TEF em processamento....")));
    emit disableProgressBar(false);
    log.info("[Q7_Bridge_Controller] FIM DA OPERACAO Q7_BRIDGE");
}

QString Q7_Bridge_Controller::callLibrary(const Q7_Bridge_VO &current, const ProtocoloSitef &protocolo,
                                          const std::function<void(const QString &)> &showFailure) {
    const QString operacao = current.operacao();
    const int id = current.idTransacao();
    // The library reads its texts during the call only.
    const QByteArray pdv = current.pdv().toUtf8();
    const QByteArray valorTotal = current.valorTotal().toUtf8();

    const auto replyOf = [&showFailure](const char *entryPoint, const std::optional<QString> &reply) {
        if (reply)
            return *reply;
        const QString message =
            QStringLiteral("Função %1 não encontrada na biblioteca Q7_Bridge").arg(QLatin1String(entryPoint));
        showFailure(message);
        return errorReply(message);
    };

    if (operacao == protocolo.OP_CRT) {
        const QString valor = formatCurrency(current.valorTotal());
        switch (current.tipoCartao()) {
        case 1:
            emit firstTextChanged(QStringLiteral("Crédito\nValor: ") + valor);
            return replyOf("IniciaVendaCredito",
                           invoke(library.IniciaVendaCredito, id, pdv.constData(), valorTotal.constData(),
                                  current.tipoFinanciamento(), current.numParcelas()));
        case 2:
            emit firstTextChanged(QStringLiteral("Débito\nValor: ") + valor);
            return replyOf("IniciaVendaDebito",
                           invoke(library.IniciaVendaDebito, id, pdv.constData(), valorTotal.constData()));
        default:
            emit firstTextChanged(QStringLiteral("Venda\nValor: ") + valor);
            return replyOf("IniciaVenda",
                           invoke(library.IniciaVenda, id, pdv.constData(), valorTotal.constData()));
        }
    }
    if (operacao == protocolo.OP_CNC) {
        emit firstTextChanged(QStringLiteral("Cancelamento"));
        const QByteArray dataHora = current.dataHora().toUtf8();
        const QByteArray nsu = current.nsu().toUtf8();
        return replyOf("IniciaCancelamentoVenda",
                       invoke(library.IniciaCancelamentoVenda, id, pdv.constData(), valorTotal.constData(),
                              dataHora.constData(), nsu.constData()));
    }
    if (operacao == protocolo.OP_ADM) {
        emit firstTextChanged(QStringLiteral("Operação administrativa"));
        return replyOf("IniciaOperacaoAdministrativa",
                       invoke(library.IniciaOperacaoAdministrativa, id, pdv.constData(), 0));
    }
    emit firstTextChanged(QStringLiteral("Operação desconhecida"));
    return QStringLiteral("{\"q7_bridge_code\": -9999, \"q7_bridge_msg\": \"Operação inválida\"}");
}
