#include "controllers/Pagora_Controller.h"

#include "base/Log.h"
#include "base/Pause.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>
#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace {

QStringList menuVenda() {
    return {QStringLiteral("Pagamento débito"), QStringLiteral("Pagamento crédito")};
}

QStringList menuAdm() {
    return {QStringLiteral("Configuração TEF"), QStringLiteral("Reimpressão de comprovante"),
            QStringLiteral("Cancelamento de venda")};
}

QJsonObject objectOf(const QString &json) {
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

QJsonObject componente(const QString &nome, const QString &conteudo) {
    return QJsonObject{{QStringLiteral("NomeComponenteTela"), nome},
                       {QStringLiteral("ConteudoComponenteTela"), conteudo},
                       {QStringLiteral("TipoVisor"), QStringLiteral("operador")}};
}

// The operation a built-in menu option stands for; INT_MIN for none.
int operacaoDaOpcao(const QString &opcao) {
    if (opcao == QStringLiteral("Pagamento débito"))
        return 1;
    if (opcao == QStringLiteral("Pagamento crédito"))
        return 2;
    if (opcao == QStringLiteral("Configuração TEF"))
        return 4;
    if (opcao == QStringLiteral("Reimpressão de comprovante"))
        return 128;
    if (opcao == QStringLiteral("Cancelamento de venda"))
        return 12;
    return INT_MIN;
}

} // namespace

Pagora_Controller::Pagora_Controller(QObject *parent, const QString &libraryPath)
    : Base_Controller(parent)
    , api(libraryPath)
    , resposta(std::make_unique<RespostaTef>()) {
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
        const int resultado = api.finalizarOperacaoTEF(1);
        if (resultado == 0)
            log.info("[Pagora_Controller] Q7_PAGORA_Passivo PRONTO PARA SER ENCERRADO COM SEGURANÇA");
        else
            log.critical(QStringLiteral("[Pagora_Controller] FINALIZAÇÃO DA AUTOMAÇÃO COM PROBLEMAS. CÓD: ") +
                         QString::number(resultado));
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
    const QJsonObject parametros = document.value(QLatin1String("parametros")).toObject();
    auto novaResposta = std::make_unique<RespostaTef>();
    novaResposta->setId(parametros.value(QLatin1String("identificacao")).toString().toInt());
    novaResposta->setHeader(document.value(QLatin1String("header")).toString());
    novaResposta->setDocumentoFiscalVinculado(parametros.value(QLatin1String("documento")).toString());
    {
        QMutexLocker locker(&mutex);
        jsonConfigs = document;
        resposta = std::move(novaResposta);
        cancelamentoPendente = false;
    }
    Log().debug(QStringLiteral("[Pagora_Controller] setJsonConfigs") + value);
}

void Pagora_Controller::processTef() {
    const Log log;
    log.info("[Pagora_Controller] INICIANDO OPERACAO TEF");
    if (!api.isLoaded()) {
        encerrar(QJsonObject(), QStringLiteral("Erro ao carregar a biblioteca da APITEFOrvix"));
        return;
    }

    bool invalido;
    QString msgErro;
    QString header;
    QString valor;
    {
        QMutexLocker locker(&mutex);
        invalido = jsonConfigs.contains(QLatin1String("msg_erro"));
        msgErro = jsonConfigs.value(QLatin1String("msg_erro")).toString();
        header = jsonConfigs.value(QLatin1String("header")).toString();
        valor = jsonConfigs.value(QLatin1String("parametros"))
                    .toObject()
                    .value(QLatin1String("valor"))
                    .toString();
        if (invalido)
            answerError(msgErro);
    }
    clearScreen(valor);
    if (invalido) {
        bringWindowToFront();
        emit showWindow(true);
        emit textChanged(msgErro);
        Pause::sleep(3000);
        emit showWindow(false);
        QString json;
        {
            QMutexLocker locker(&mutex);
            json = resposta->toJsonString();
        }
        emit responseProcessTEF(json);
        return;
    }

    const int operacao = operacaoAtual();
    switch (operacao) {
    case -7:
        encerrar(QJsonObject(), confirmar(0));
        return;
    case -6:
        encerrar(QJsonObject(), confirmar(1));
        return;
    case -20:
        log.debug("[Pagora_Controller] Operação desconhecida");
        // "ATV" only asks whether the service is alive: not an error.
        encerrar(QJsonObject(),
                 header == QLatin1String("ATV") ? Falha() : QStringLiteral("Operação desconhecida"));
        return;
    default:
        break;
    }

    bringWindowToFront();
    emit showWindow(true);
    janelaMostrada = true;
    setProsseguir(true);
    emit disableProgressBar(false);
    log.debug(QStringLiteral("[Pagora_Controller] JSON IN: ") + capturaInicial());

    Falha falha;
    if (operacao != 4)
        falha = autenticarEIniciar();
    QJsonObject ultimaTela;
    if (falha.isEmpty())
        falha = cicloCaptura(ultimaTela);
    {
        QMutexLocker locker(&mutex);
        resposta->setOperacao(jsonConfigs.value(QLatin1String("operacao")).toInt(0));
    }
    if (!falha.isEmpty())
        emit textChanged(falha);
    encerrar(ultimaTela, falha, operacaoAtual());
}

Pagora_Controller::Falha Pagora_Controller::confirmar(int confirmacao) {
    const Log log;
    const bool confirma = confirmacao == 1;
    log.info(confirma ? "[Pagora_Controller] CONFIRMAÇÃO DA TRANSAÇÃO"
                      : "[Pagora_Controller] NÃO CONFIRMAÇÃO DA TRANSAÇÃO");
    if (!api.confirmarOperacaoTEF)
        return missing("OrvixTEF_ConfirmarOperacaoTEF");
    const int resultado = api.confirmarOperacaoTEF(confirmacao);
    if (resultado != 0) {
        const QString erro =
            (confirma ? QStringLiteral("ERRO NA CONFIRMAÇÂO: ") : QStringLiteral("ERRO NA CANCELAMENTO: ")) +
            QString::number(resultado);
        log.critical(QStringLiteral("[Pagora_Controller] ") + erro);
        return erro;
    }
    log.info(confirma ? "[Pagora_Controller] CONFIRMAÇÃO DA TRANSAÇÃO: OK"
                      : "[Pagora_Controller] NÃO CONFIRMAÇÃO DA TRANSAÇÃO: OK");
    if (!api.finalizarOperacaoTEF)
        return missing("OrvixTEF_FinalizarOperacaoTEF");
    const int finalizacao = api.finalizarOperacaoTEF(0);
    if (finalizacao == 0)
        log.info("[Pagora_Controller] TRANSAÇÃO FINALIZADA COM SUCESSO!");
    else
        log.info("[Pagora_Controller] FINALIZAÇÃO DA TRANSAÇÃO COM PROBLEMAS. CÓD: ", finalizacao);
    return Falha();
}

Pagora_Controller::Falha Pagora_Controller::autenticarEIniciar() {
    const Log log;
    if (!api.autenticador)
        return missing("OrvixTEF_Autenticador");
    const int autenticacao = api.autenticador();
    if (autenticacao != 0) {
        const QString erro = QStringLiteral("Erro ao autenticar - [Erro: %1]").arg(autenticacao);
        log.critical(QStringLiteral("[Pagora_Controller] ") + erro);
        return erro;
    }
    log.info("[Pagora_Controller] Autenticação realizada com sucesso");
    if (!api.iniciarOperacaoTEF)
        return missing("OrvixTEF_IniciarOperacaoTEF");
    const int inicio = api.iniciarOperacaoTEF();
    log.info("[Pagora_Controller] Resultado inicio operacao", inicio);
    if (inicio != 0)
        return QStringLiteral("Erro ao iniciar operação TEF - [Erro: %1]").arg(inicio);
    return Falha();
}

namespace {

// One library step. The buffer is ours: at least ten times the size the library asked
// for, never smaller than the document plus its zero, and read back only up to its end.
template <typename Step> QString chamarPasso(const QString &captura, int &tamanho, Step step) {
    const QByteArray entrada = captura.toUtf8();
    const qint64 pedido = 10LL * qBound(0, tamanho, INT_MAX / 10);
    const size_t capacidade = static_cast<size_t>(std::max<qint64>(pedido, qint64(entrada.size()) + 1));
    std::vector<char> buffer(capacidade, '\0');
    std::memcpy(buffer.data(), entrada.constData(), static_cast<size_t>(entrada.size()));
    step(buffer.data(), &tamanho);
    const auto fim = std::find(buffer.begin(), buffer.end(), '\0');
    return QString::fromLocal8Bit(buffer.data(), static_cast<int>(fim - buffer.begin()));
}

} // namespace

Pagora_Controller::Falha Pagora_Controller::cicloCaptura(QJsonObject &tela) {
    int tamanho = 1024;
    int sequencia = 0;
    bool abortar = false;
    int ilegiveis = 0;
    do {
        bool segue;
        {
            QMutexLocker locker(&mutex);
            // The service stops: the screen waiting for the operator is cancelled as
            // "CANCELAR" would, so the library ends its flow too.
            if (!prosseguir && isInterruptionRequested())
                cancelarCaptura();
            segue = prosseguir;
        }
        if (!segue) {
            Pause::sleep(250);
            abortar = false;
            continue;
        }
        Pause::sleep(1000);

        QString captura;
        int operacao;
        {
            QMutexLocker locker(&mutex);
            captura = jsonCaptura;
            operacao = jsonConfigs.value(QLatin1String("operacao")).toInt(0);
        }
        const QJsonObject documento = objectOf(captura);
        const bool cancelou = documento.value(QLatin1String("TipoFluxo")).toInt() == 2;
        if (cancelou) {
            QMutexLocker locker(&mutex);
            cancelamentoPendente = false; // it goes out now
        }

        QString retorno;
        bool chamou = false;
        bool menu = false;
        switch (operacao) {
        case 0:
        case -5:
            if (cancelou) {
                tela = telaFim(QStringLiteral("Operação encerrada pelo operador"), 65282);
            } else {
                tela = telaMenu(operacao == 0 ? menuVenda() : menuAdm());
                menu = true;
            }
            break;
        case 1:
        case 2:
            if (!api.realizarPagamentoTEF)
                return missing("OrvixTEF_RealizarPagamentoTEF");
            retorno = chamarPasso(captura, tamanho, [this, operacao](char *buffer, int *size) {
                api.realizarPagamentoTEF(operacao, buffer, size);
            });
            chamou = true;
            break;
        case 4:
            if (!api.realizarConfiguracao)
                return missing("OrvixTEF_RealizarConfiguracao");
            retorno = chamarPasso(captura, tamanho, [this](char *buffer, int *size) {
                api.realizarConfiguracao(buffer, size);
            });
            chamou = true;
            break;
        default:
            if (cancelou) {
                tela = telaFim(QStringLiteral("Operação encerrada pelo operador"), 65282);
            } else if (operacao == 12 && documento.value(QLatin1String("InfoCaptura")).toString().isEmpty() &&
                       documento.value(QLatin1String("SequenciaCaptura")).toInt() == 0) {
                tela = telaValor(QStringLiteral("VALOR DA TRANSAÇÃO"));
            } else {
                if (!api.realizarAdmTEF)
                    return missing("OrvixTEF_RealizarAdmTEF");
                retorno = chamarPasso(captura, tamanho, [this, operacao](char *buffer, int *size) {
                    api.realizarAdmTEF(operacao, buffer, size);
                });
                chamou = true;
            }
            break;
        }

        if (chamou) {
            {
                QMutexLocker locker(&mutex);
                jsonCaptura = retorno;
                // The built-in menu is gone: a list from now on is the library's.
                opcoesMenu.clear();
            }
            const QJsonDocument lido = QJsonDocument::fromJson(retorno.toUtf8());
            tela = lido.object();
            // One unreadable document goes back to the library as it came; a library that
            // answers nothing else would keep the operation, and the sales application, waiting
            // for good.
            ilegiveis = lido.isObject() ? 0 : ilegiveis + 1;
            if (ilegiveis >= kMaxDocumentosIlegiveis) {
                const QString erro = QStringLiteral("Resposta inválida da biblioteca APITEFOrvix");
                Log().critical(QStringLiteral("[Pagora_Controller] ") + erro);
                return erro;
            }
        }
        if (menu) {
            abortar = false;
        } else {
            sequencia = tela.value(QLatin1String("SequenciaCaptura")).toInt(0);
            abortar = tela.value(QLatin1String("AbortarFluxoCaptura")).toBool(false);
        }
        showScreen(tela.value(QLatin1String("ComponentesTela")));
        const bool fim = sequencia == 99 || abortar;
        if (!fim) {
            QMutexLocker locker(&mutex);
            if (cancelamentoPendente || isInterruptionRequested()) {
                // A library that goes on after the service's cancel is left at that.
                if (cancelou && isInterruptionRequested())
                    return QStringLiteral("Operação interrompida");
                cancelarCaptura();
            }
        }
    } while (sequencia != 99 && !abortar);
    return Falha();
}

void Pagora_Controller::encerrar(const QJsonObject &ultimaTela, const Falha &falha, int operacao) {
    setProsseguir(false);
    emit disableProgressBar(true);
    {
        QMutexLocker locker(&mutex);
        if (falha.isEmpty())
            resposta->setResultado(resultadoDe(ultimaTela, operacao));
        else
            answerError(falha);
    }
    // Time to read the last screen. Without one (confirmation, undo, "ATV") the sales
    // application, which sends "ATV" before every command, would wait for nothing.
    if (janelaMostrada)
        Pause::sleep(3000);
    janelaMostrada = false;
    emit showWindow(false);
    QString json;
    {
        QMutexLocker locker(&mutex);
        valorTransacao.clear();
        json = resposta->toJsonString();
    }
    emit responseProcessTEF(json);
}

// Call with the mutex held. 0 means approved to the sales application: an error never
// answers with it.
void Pagora_Controller::answerError(const QString &texto) {
    resposta->setTextoOperador(texto);
    resposta->setResultado(-1);
}

Pagora_Controller::Falha Pagora_Controller::missing(const char *entryPoint) const {
    const QString erro = QStringLiteral("Função %1 não encontrada na biblioteca APITEFOrvix")
                             .arg(QString::fromLatin1(entryPoint));
    Log().critical(QStringLiteral("[Pagora_Controller] ") + erro);
    return erro;
}

// 0 tells the sales application the operation was approved. Without a screen (confirmation,
// undo, "ATV") it is 0; a reprint or configuration that ends without a status is done, but an
// aborted flow, or a payment or cancellation without its status, was not approved.
int Pagora_Controller::resultadoDe(const QJsonObject &ultimaTela, int operacao) {
    if (ultimaTela.isEmpty())
        return 0;
    bool temStatus = false;
    const int status = ultimaTela.value(QLatin1String("Status")).toVariant().toInt(&temStatus);
    if (ultimaTela.value(QLatin1String("AbortarFluxoCaptura")).toBool())
        return temStatus && status != 0 ? status : -1;
    if (temStatus)
        return status;
    return operacao == 1 || operacao == 2 || operacao == 12 ? -1 : 0;
}

int Pagora_Controller::operacaoAtual() {
    QMutexLocker locker(&mutex);
    return jsonConfigs.value(QLatin1String("operacao")).toInt(0);
}

void Pagora_Controller::setProsseguir(bool value) {
    QMutexLocker locker(&mutex);
    prosseguir = value;
}

void Pagora_Controller::registrar(void (RespostaTef::*setter)(const QString &), const QString &value) {
    QMutexLocker locker(&mutex);
    (resposta.get()->*setter)(value);
}

// Call with the mutex held.
void Pagora_Controller::cancelarCaptura() {
    QJsonObject captura = objectOf(jsonCaptura);
    captura.insert(QStringLiteral("TipoFluxo"), 2);
    publicarCaptura(captura);
}

// Call with the mutex held: the answer is published before prosseguir.
void Pagora_Controller::publicarCaptura(const QJsonObject &captura) {
    jsonCaptura = QString::fromUtf8(QJsonDocument(captura).toJson(QJsonDocument::Indented));
    prosseguir = true;
}

// Screens -----------------------------------------------------------------------------

void Pagora_Controller::showScreen(const QJsonValue &tela) {
    emit disableButtonOK(true);
    emit disableButtonVoltar(true);
    emit disableButtonCancelar(true);
    emit disableTextField(true);
    emit disableListView(true);
    emit firstTextChanged(QString());
    emit textChanged(QString());

    bool primeiraMensagem = true;
    const QJsonArray componentes = tela.toArray();
    for (const QJsonValue &item : componentes) {
        const QJsonObject componente = item.toObject();
        const QString nome = componente.value(QLatin1String("NomeComponenteTela")).toString();
        const QString conteudo = componente.value(QLatin1String("ConteudoComponenteTela")).toString();

        if (nome == QLatin1String("label")) {
            int operacao;
            QString valor;
            {
                QMutexLocker locker(&mutex);
                operacao = jsonConfigs.value(QLatin1String("operacao")).toInt(0);
                valor = jsonConfigs.value(QLatin1String("parametros"))
                            .toObject()
                            .value(QLatin1String("valor"))
                            .toString();
                if (valor.isEmpty())
                    valor = valorTransacao;
            }
            if (operacao == 4) {
                emit firstTextChanged(QStringLiteral("CONFIGURAÇÃO"));
                emit textChanged(conteudo);
            } else if (componente.value(QLatin1String("TipoVisor")).toString() == QLatin1String("operador")) {
                if (primeiraMensagem) {
                    emit firstTextChanged(formatCurrency(valor) + QLatin1Char('\n') + conteudo);
                    primeiraMensagem = false;
                } else {
                    emit textChanged(conteudo);
                }
            }
            if (conteudo != QLatin1String("RETIRE O CARTAO"))
                registrar(&RespostaTef::setTextoOperador, conteudo);
        } else if (nome == QLatin1String("textbox")) {
            setProsseguir(false);
            emit disableProgressBar(true);
            emit disableTextField(false);
            emit textfiledChanged(conteudo);
        } else if (nome == QLatin1String("button")) {
            if (conteudo == QLatin1String("Prosseguir"))
                emit disableButtonOK(false);
            else if (conteudo == QLatin1String("Voltar"))
                emit disableButtonVoltar(false);
            else if (conteudo == QLatin1String("Cancelar"))
                emit disableButtonCancelar(false);
        } else if (nome == QLatin1String("listbox")) {
            QString lista = conteudo;
            lista.remove(QLatin1Char('\n'));
            lista.remove(QLatin1Char('\r'));
            const QJsonArray itens =
                objectOf(lista.simplified()).value(QLatin1String("ArrayListBox")).toArray();
            {
                QMutexLocker locker(&mutex);
                prosseguir = false;
                itensLista = itens.size();
            }
            emit disableProgressBar(true);
            emit clearItemsList();
            for (const QJsonValue &opcao : itens)
                emit addItemList(opcao.toObject().value(QLatin1String("ConteudoItem")).toString());
            emit disableListView(false);
            emit textChanged(QStringLiteral("Selecione"));
        } else if (nome == QLatin1String("comprovanteloja")) {
            registrar(&RespostaTef::setComprovanteLoja, conteudo);
        } else if (nome == QLatin1String("comprovantecliente")) {
            registrar(&RespostaTef::setComprovanteCliente, conteudo);
        } else if (nome == QLatin1String("dadostransacao")) {
            registrar(&RespostaTef::setDadosTransacao, conteudo);
        }
    }
}

QString Pagora_Controller::capturaInicial() {
    int operacao;
    QString valor;
    {
        QMutexLocker locker(&mutex);
        operacao = jsonConfigs.value(QLatin1String("operacao")).toInt(0);
        valor = jsonConfigs.value(QLatin1String("parametros"))
                    .toObject()
                    .value(QLatin1String("valor"))
                    .toString();
    }
    QJsonObject captura{{QStringLiteral("SequenciaCaptura"), 0},
                        {QStringLiteral("TipoFluxo"), 0},
                        {QStringLiteral("AbortarFluxoCaptura"), false},
                        {QStringLiteral("FormatoInfoCaptura"), 0}};
    QString valorDigitos;
    if (operacao == 4) {
        captura.insert(QStringLiteral("InfoCaptura"), QJsonValue::Null);
    } else {
        valorDigitos = valor;
        valorDigitos.remove(QLatin1Char(','));
        valorDigitos.remove(QLatin1Char('.'));
        captura.insert(QStringLiteral("InfoCaptura"), valorDigitos);
    }
    const QString json = QString::fromUtf8(QJsonDocument(captura).toJson(QJsonDocument::Compact));
    QMutexLocker locker(&mutex);
    if (operacao != 4)
        valorTransacao = valorDigitos;
    jsonCaptura = json;
    return json;
}

QJsonObject Pagora_Controller::telaMenu(const QStringList &opcoes) {
    {
        QMutexLocker locker(&mutex);
        opcoesMenu = opcoes;
    }
    QJsonArray itens;
    for (const QString &opcao : opcoes)
        itens.append(QJsonObject{{QStringLiteral("ConteudoItem"), opcao}});
    const QString lista = QString::fromUtf8(
        QJsonDocument(QJsonObject{{QStringLiteral("ArrayListBox"), itens}}).toJson(QJsonDocument::Compact));
    return QJsonObject{{QStringLiteral("ComponentesTela"),
                        QJsonArray{componente(QStringLiteral("label"), QStringLiteral("LISTA DE OPERAÇÕES")),
                                   componente(QStringLiteral("listbox"), lista),
                                   componente(QStringLiteral("button"), QStringLiteral("Prosseguir")),
                                   componente(QStringLiteral("button"), QStringLiteral("Cancelar"))}}};
}

QJsonObject Pagora_Controller::telaValor(const QString &mensagem) {
    return QJsonObject{{QStringLiteral("SequenciaCaptura"), 1},
                       {QStringLiteral("TipoFluxo"), 1},
                       {QStringLiteral("InfoCaptura"), QString()},
                       {QStringLiteral("AbortarFluxoCaptura"), false},
                       {QStringLiteral("FormatoInfoCaptura"), 0},
                       {QStringLiteral("ComponentesTela"),
                        QJsonArray{componente(QStringLiteral("label"), mensagem),
                                   componente(QStringLiteral("textbox"), QString()),
                                   componente(QStringLiteral("button"), QStringLiteral("Prosseguir")),
                                   componente(QStringLiteral("button"), QStringLiteral("Cancelar"))}}};
}

QJsonObject Pagora_Controller::telaFim(const QString &mensagem, int status) {
    return QJsonObject{
        {QStringLiteral("SequenciaCaptura"), 99},
        {QStringLiteral("TipoFluxo"), 2},
        {QStringLiteral("InfoCaptura"), QString()},
        {QStringLiteral("AbortarFluxoCaptura"), false},
        {QStringLiteral("FormatoInfoCaptura"), 0},
        {QStringLiteral("Status"), status},
        {QStringLiteral("ComponentesTela"), QJsonArray{componente(QStringLiteral("label"), mensagem)}}};
}

// Handlers (GUI thread) ---------------------------------------------------------------

void Pagora_Controller::onClickButtonOK(const QString &valorOfTextField, int estado) {
    QMutexLocker locker(&mutex);
    QJsonObject captura = objectOf(jsonCaptura);
    if (estado == 1) {
        if (valorOfTextField.isEmpty()) {
            locker.unlock();
            emit showMessageError(QStringLiteral("Preencha um valor!"));
            emit disableTextField(false);
            return;
        }
        captura.insert(QStringLiteral("InfoCaptura"), valorOfTextField);
        const int operacao = jsonConfigs.value(QLatin1String("operacao")).toInt(0);
        if (valorTransacao.isEmpty() && (operacao == 0 || operacao == 1 || operacao == 2 || operacao == 12))
            valorTransacao = valorOfTextField;
    } else if (estado == 2) {
        bool numero = false;
        const int indice = valorOfTextField.toInt(&numero);
        if (!numero || indice < 0 || indice >= itensLista ||
            (!opcoesMenu.isEmpty() && indice >= opcoesMenu.size())) {
            locker.unlock();
            emit showMessageError(QStringLiteral("Selecione uma opção!"));
            emit disableListView(false);
            return;
        }
        if (opcoesMenu.isEmpty()) {
            // A list of the library's own: the chosen row goes back to it.
            captura.insert(QStringLiteral("InfoCaptura"), valorOfTextField.trimmed());
        } else {
            const QString opcao = opcoesMenu.at(indice);
            Log().debug(QStringLiteral("[Pagora_Controller] Opção selecionada: ") + opcao);
            const int operacao = operacaoDaOpcao(opcao);
            if (operacao != INT_MIN)
                jsonConfigs.insert(QStringLiteral("operacao"), operacao);
        }
    } else {
        locker.unlock();
        emit textChanged(QStringLiteral("ERRO"));
        return;
    }
    captura.insert(QStringLiteral("TipoFluxo"), 1);
    publicarCaptura(captura);
    locker.unlock();
    emit disableProgressBar(false);
}

void Pagora_Controller::onClickButtonVoltar() {
    responderFluxo(3);
}

void Pagora_Controller::onClickButtonCancelar() {
    responderFluxo(2);
}

// "VOLTAR" and "CANCELAR" only tell the library where the flow goes next.
void Pagora_Controller::responderFluxo(int tipoFluxo) {
    {
        QMutexLocker locker(&mutex);
        QJsonObject captura = objectOf(jsonCaptura);
        captura.insert(QStringLiteral("TipoFluxo"), tipoFluxo);
        publicarCaptura(captura);
        if (tipoFluxo == 2)
            cancelamentoPendente = true;
    }
    emit disableProgressBar(false);
}

QString Pagora_Controller::abandonedResponse(const QString &mensagem) const {
    // Only what identifies the request: receipts of a flow cut short must not be printed.
    QJsonObject documento;
    {
        QMutexLocker locker(&mutex);
        documento = objectOf(resposta->toJsonString());
    }
    RespostaTef abandonada;
    abandonada.setId(documento.value(QLatin1String("id")).toInt());
    abandonada.setHeader(documento.value(QLatin1String("header")).toString());
    abandonada.setDocumentoFiscalVinculado(
        documento.value(QLatin1String("documento_fiscal_vinculado")).toString());
    abandonada.setTextoOperador(mensagem);
    abandonada.setResultado(-1);
    return abandonada.toJsonString();
}
