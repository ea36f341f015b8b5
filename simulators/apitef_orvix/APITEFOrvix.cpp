// Replacement for the screen-driven TEF library (libAPITEFOrvix.so).
//
// The three step functions take the capture document in the buffer (UTF-8, zero-ended) and
// write the next one back (local 8-bit, zero-ended). The buffer holds ten times *tamanho
// bytes, or the incoming document and its zero when that is longer.
//
// Scenario (Q7_SIM_SCENARIO), every member optional, each one reply or an array of replies
// played in turn (the last repeats):
//   "OrvixTEF_Autenticador", "OrvixTEF_IniciarOperacaoTEF", "OrvixTEF_ConfirmarOperacaoTEF",
//   "OrvixTEF_FinalizarOperacaoTEF": the int result; 0 when absent.
//   "OrvixTEF_RealizarPagamentoTEF", "OrvixTEF_RealizarAdmTEF", "OrvixTEF_RealizarConfiguracao":
//   objects with
//     "documento"     the capture document to write back (an object), or
//     "texto"         raw text to write back instead (need not be JSON);
//     "semTerminador" true: fill the whole buffer with that text, repeated, and no zero;
//     "tamanho"       the size to write back after the call.
//   A reply with neither "documento" nor "texto" plays the built-in flow for that call.
//
// Built-in flows (also what runs without a scenario): payment (1 debit, 2 credit),
// cancellation (12), reprint (128) and configuration (4). Each is a few screens (labels for
// the operator and the customer display, text boxes, option lists, buttons), then a final
// screen with "SequenciaCaptura" 99, "Status" and, for card operations, the receipts and
// transaction data. "TipoFluxo" 2 cancels, 3 goes back to the previous question. The flow's
// answers travel inside the document (member "Dados"), so the library keeps no state.
// A list answer ("InfoCaptura") is the chosen row counted from 0.
//
// Call log (Q7_SIM_CALLS): every call with its arguments; step calls with the document
// received ("captura") and the size on entry ("tamanho"). An approved payment or cancellation
// is booked there (sim::logReturn) and waits for the next confirmation or undo, which settles
// it; a library loaded anew, as after a restart of the service, takes that up from the log.
// One approval waits at a time: the next approval confirms it first (the store went on with
// the sale), as for the first card of a payment split over two.

#include "SimSupport.h"

#include <QDate>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTime>
#include <QtGlobal>
#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr int kStatusCancelado = 65282;
constexpr int kStatusNaoSuportado = 1;

enum class Funcao { Pagamento, Adm, Configuracao };
enum class Espera { Nenhuma, Texto, Lista };

struct Passo {
    QJsonArray componentes;
    Espera espera = Espera::Nenhuma;
    QString campo; // member of "Dados" that keeps the answer
    int opcoes = 0;
    bool ativo = true;
};

QJsonObject componente(const QString &nome, const QString &conteudo, const QString &visor, int codigo) {
    return QJsonObject{{QStringLiteral("NomeComponenteTela"), nome},
                       {QStringLiteral("ConteudoComponenteTela"), conteudo},
                       {QStringLiteral("TipoVisor"), visor},
                       {QStringLiteral("CodigoComponenteTela"), codigo},
                       {QStringLiteral("FormatoDeCaptura"), 0}};
}

// Builds one screen's components in order.
class Tela {
public:
    Tela &operador(const QString &texto) {
        return add(QStringLiteral("label"), texto, QStringLiteral("operador"));
    }
    Tela &cliente(const QString &texto) {
        return add(QStringLiteral("label"), texto, QStringLiteral("cliente"));
    }
    Tela &campo(const QString &preenchido = QString()) {
        return add(QStringLiteral("textbox"), preenchido, QStringLiteral("operador"));
    }
    Tela &lista(const QStringList &opcoes) {
        QJsonArray itens;
        for (const QString &opcao : opcoes)
            itens.append(QJsonObject{{QStringLiteral("ConteudoItem"), opcao}});
        // Indented on purpose: the service must read list content with line breaks in it.
        const QJsonDocument conteudo(QJsonObject{{QStringLiteral("ArrayListBox"), itens}});
        return add(QStringLiteral("listbox"), QString::fromUtf8(conteudo.toJson(QJsonDocument::Indented)),
                   QStringLiteral("operador"));
    }
    Tela &botoes(bool voltar = true) {
        add(QStringLiteral("button"), QStringLiteral("Prosseguir"), QStringLiteral("operador"));
        if (voltar)
            add(QStringLiteral("button"), QStringLiteral("Voltar"), QStringLiteral("operador"));
        return add(QStringLiteral("button"), QStringLiteral("Cancelar"), QStringLiteral("operador"));
    }
    Tela &cancelar() {
        return add(QStringLiteral("button"), QStringLiteral("Cancelar"), QStringLiteral("operador"));
    }
    Tela &item(const char *nome, const QString &conteudo) {
        return add(QString::fromLatin1(nome), conteudo, QStringLiteral("operador"));
    }
    QJsonArray componentes;

private:
    Tela &add(const QString &nome, const QString &conteudo, const QString &visor) {
        componentes.append(componente(nome, conteudo, visor, componentes.size() + 1));
        return *this;
    }
};

Passo texto(const Tela &tela, const QString &campo, bool ativo = true) {
    return Passo{tela.componentes, Espera::Texto, campo, 0, ativo};
}

Passo lista(const Tela &tela, const QString &campo, int opcoes, bool ativo = true) {
    return Passo{tela.componentes, Espera::Lista, campo, opcoes, ativo};
}

Passo aviso(const Tela &tela, bool ativo = true) {
    return Passo{tela.componentes, Espera::Nenhuma, QString(), 0, ativo};
}

const QStringList kParcelas{QStringLiteral("A VISTA"), QStringLiteral("PARCELADO LOJA 2X"),
                            QStringLiteral("PARCELADO LOJA 3X")};

// The screens of a flow; SequenciaCaptura n shows element n - 1.
std::vector<Passo> fluxo(Funcao funcao, int operacao, const QJsonObject &dados) {
    const auto valor = [&dados] {
        return dados.value(QLatin1String("Valor")).toString();
    };
    if (funcao == Funcao::Pagamento) {
        return {
            texto(Tela().operador(QStringLiteral("DIGITE O VALOR DA TRANSACAO")).campo().botoes(false),
                  QStringLiteral("Valor"),
                  valor().isEmpty() || dados.contains(QLatin1String("ValorDigitado"))),
            aviso(Tela()
                      .operador(QStringLiteral("INSIRA OU PASSE O CARTAO"))
                      .cliente(QStringLiteral("INSIRA OU PASSE O CARTAO"))
                      .cancelar()),
            lista(Tela().operador(QStringLiteral("FORMA DE PAGAMENTO")).lista(kParcelas).botoes(),
                  QStringLiteral("Parcelas"), kParcelas.size(), operacao == 2),
            texto(Tela()
                      .operador(QStringLiteral("DIGITE OS 4 ULTIMOS DIGITOS DO CARTAO"))
                      .cliente(QStringLiteral("AGUARDE"))
                      .campo()
                      .botoes(),
                  QStringLiteral("Digitos")),
            aviso(
                Tela().operador(QStringLiteral("AGUARDE A SENHA")).cliente(QStringLiteral("DIGITE A SENHA"))),
        };
    }
    if (funcao == Funcao::Configuracao) {
        return {
            texto(Tela()
                      .operador(QStringLiteral("CONFIGURACAO DO TERMINAL"))
                      .cliente(QStringLiteral("AGUARDE"))
                      .operador(QStringLiteral("CODIGO DA EMPRESA"))
                      .campo(QStringLiteral("00000001"))
                      .botoes(false),
                  QStringLiteral("Empresa")),
            texto(Tela()
                      .operador(QStringLiteral("NUMERO DO TERMINAL"))
                      .campo(QStringLiteral("PDV00001"))
                      .botoes(),
                  QStringLiteral("Terminal")),
        };
    }
    if (operacao == 12) {
        return {
            aviso(Tela()
                      .operador(QStringLiteral("CANCELAMENTO DE VENDA"))
                      .cliente(QStringLiteral("INSIRA OU PASSE O CARTAO"))
                      .cancelar()),
            texto(Tela().operador(QStringLiteral("DIGITE O NSU DA TRANSACAO ORIGINAL")).campo().botoes(),
                  QStringLiteral("Nsu")),
            texto(Tela()
                      .operador(QStringLiteral("DATA DA TRANSACAO ORIGINAL (DDMMAA)"))
                      .campo(QDate::currentDate().toString(QStringLiteral("ddMMyy")))
                      .botoes(),
                  QStringLiteral("Data")),
        };
    }
    if (operacao == 128) {
        const QStringList opcoes{QStringLiteral("ULTIMA TRANSACAO"), QStringLiteral("TRANSACAO ESPECIFICA")};
        return {
            lista(Tela().operador(QStringLiteral("REIMPRESSAO DE COMPROVANTE")).lista(opcoes).botoes(false),
                  QStringLiteral("Opcao"), opcoes.size()),
            texto(Tela().operador(QStringLiteral("DIGITE O NSU DA TRANSACAO")).campo().botoes(),
                  QStringLiteral("Nsu"),
                  dados.value(QLatin1String("Opcao")).toString() == QLatin1String("1")),
        };
    }
    return {};
}

QString reais(const QString &centavos) {
    const qlonglong valor = centavos.toLongLong();
    return QStringLiteral("R$ %1,%2").arg(valor / 100).arg(valor % 100, 2, 10, QLatin1Char('0'));
}

QString comprovante(const QString &titulo, const QString &via, const QJsonObject &dados, const QString &nsu) {
    const QString agora =
        QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy              hh:mm:ss"));
    QStringList linhas{
        QStringLiteral("****************************************"),
        QStringLiteral("********* DEMONSTRACAO  ORVIX **********"),
        QStringLiteral("****************************************"),
        QString(),
        QStringLiteral("           COMPROVANTE DE TEF"),
        QStringLiteral("           VIA: ") + via,
        QString(),
        QStringLiteral("        ESTABELECIMENTO DE TESTE"),
        QStringLiteral("    823982346832235/03876463"),
        QString(),
        QStringLiteral("    ") + agora,
        QStringLiteral("    DOC:%1        AUTORIZ:005548").arg(nsu.right(6)),
        QString(),
        QStringLiteral("    DEMOCARD        ************0119"),
        QStringLiteral("    ") + titulo,
    };
    const QString parcelas = dados.value(QLatin1String("Parcelas")).toString();
    if (!parcelas.isEmpty() && parcelas != QLatin1String("0"))
        linhas << QStringLiteral("    PARCELADO LOJA EM %1X").arg(parcelas.toInt() + 1);
    linhas << QStringLiteral("    VALOR FINAL: ") + reais(dados.value(QLatin1String("Valor")).toString())
           << QString() << QStringLiteral("****************************************");
    return linhas.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QJsonObject telaFinal(int status, const QJsonArray &componentes) {
    return QJsonObject{
        {QStringLiteral("SequenciaCaptura"), 99},        {QStringLiteral("TipoFluxo"), 0},
        {QStringLiteral("AbortarFluxoCaptura"), false},  {QStringLiteral("FormatoInfoCaptura"), 0},
        {QStringLiteral("InfoCaptura"), QString()},      {QStringLiteral("Status"), status},
        {QStringLiteral("ComponentesTela"), componentes}};
}

QJsonObject aprovada(Funcao funcao, int operacao, const QJsonObject &dados) {
    if (funcao == Funcao::Configuracao)
        return telaFinal(0, Tela().operador(QStringLiteral("CONFIGURACAO CONCLUIDA")).componentes);

    const QString nsu = QTime::currentTime().toString(QStringLiteral("hhmmss")) + QStringLiteral("1026");
    QString titulo = QStringLiteral("VENDA DEBITO A VISTA");
    QString mensagem = QStringLiteral("TRANSACAO APROVADA");
    if (funcao == Funcao::Pagamento && operacao == 2) {
        titulo = QStringLiteral("VENDA CREDITO");
    } else if (funcao == Funcao::Adm && operacao == 12) {
        titulo = QStringLiteral("CANCELAMENTO DE VENDA");
        mensagem = QStringLiteral("CANCELAMENTO APROVADO");
    } else if (funcao == Funcao::Adm && operacao == 128) {
        titulo = QStringLiteral("REIMPRESSAO");
        mensagem = QStringLiteral("REIMPRESSAO CONCLUIDA");
    }

    const QString parcelas = dados.value(QLatin1String("Parcelas")).toString();
    const int nroParcelas = parcelas.isEmpty() ? 1 : parcelas.toInt() + 1;
    const QStringList itens{
        QStringLiteral("Pan:4761739001010119"),
        QStringLiteral("ValorTrans:") + dados.value(QLatin1String("Valor")).toString(),
        QStringLiteral("Nsu:") + nsu,
        QStringLiteral("HoraTrans:") + QTime::currentTime().toString(QStringLiteral("hhmmss")),
        QStringLiteral("DataTrans:") + QDate::currentDate().toString(QStringLiteral("MMdd")),
        QStringLiteral("CodAutorizacao:005548"),
        QStringLiteral("CodResposta:00"),
        QStringLiteral("IdTerminal:PDV00001"),
        QStringLiteral("CodEstabelecimento:823982346832235"),
        QStringLiteral("NroParcelas:%1").arg(nroParcelas),
        QStringLiteral("NsuHost:") + nsu,
        QStringLiteral("CodBandeira:00001"),
        QStringLiteral("NomeBandeira:DEMOCARD"),
        QStringLiteral("CodRede:00005"),
        QStringLiteral("NomeRede:REDE DEMO"),
        QStringLiteral("FormaFinanciamento:") + QLatin1String(nroParcelas > 1 ? "E" : "A"),
    };
    return telaFinal(
        0, Tela()
               .operador(mensagem)
               .operador(QStringLiteral("RETIRE O CARTAO"))
               .item("comprovanteloja", comprovante(titulo, QStringLiteral("ESTABELECIMENTO"), dados, nsu))
               .item("comprovantecliente", comprovante(titulo, QStringLiteral("CLIENTE"), dados, nsu))
               .item("dadostransacao", itens.join(QLatin1Char(',')))
               .componentes);
}

// The next document of a built-in flow, given the one received.
QJsonObject proximaTela(Funcao funcao, int operacao, const QJsonObject &entrada) {
    const int sequencia = entrada.value(QLatin1String("SequenciaCaptura")).toInt();
    const int tipoFluxo = entrada.value(QLatin1String("TipoFluxo")).toInt();
    const QString resposta = entrada.value(QLatin1String("InfoCaptura")).toString();
    QJsonObject dados = entrada.value(QLatin1String("Dados")).toObject();

    if (tipoFluxo == 2)
        return telaFinal(kStatusCancelado, Tela().operador(QStringLiteral("OPERACAO CANCELADA")).componentes);
    if (funcao == Funcao::Adm && operacao != 12 && operacao != 128)
        return telaFinal(kStatusNaoSuportado,
                         Tela().operador(QStringLiteral("OPERACAO NAO SUPORTADA")).componentes);

    if (sequencia == 0) {
        dados.insert(QStringLiteral("Valor"), resposta);
    }
    std::vector<Passo> passos = fluxo(funcao, operacao, dados);
    const int total = static_cast<int>(passos.size());
    int proximo = sequencia + 1;
    if (tipoFluxo == 3) {
        proximo = sequencia - 1;
        while (proximo >= 1 &&
               (!passos[size_t(proximo - 1)].ativo || passos[size_t(proximo - 1)].espera == Espera::Nenhuma))
            --proximo;
        if (proximo < 1)
            proximo = qBound(1, sequencia, total);
    } else if (sequencia >= 1 && sequencia <= total) {
        const Passo &atual = passos[size_t(sequencia - 1)];
        if (atual.espera == Espera::Lista) {
            bool numero = false;
            const int escolha = resposta.toInt(&numero);
            if (!numero || escolha < 0 || escolha >= atual.opcoes)
                proximo = sequencia; // ask again
            else
                dados.insert(atual.campo, QString::number(escolha));
        } else if (atual.espera == Espera::Texto) {
            if (resposta.isEmpty())
                proximo = sequencia;
            else
                dados.insert(atual.campo, resposta);
            if (atual.campo == QLatin1String("Valor"))
                dados.insert(QStringLiteral("ValorDigitado"), true);
        }
        passos = fluxo(funcao, operacao, dados);
    }
    while (proximo >= 1 && proximo <= total && !passos[size_t(proximo - 1)].ativo)
        ++proximo;
    if (proximo > total)
        return aprovada(funcao, operacao, dados);

    return QJsonObject{{QStringLiteral("SequenciaCaptura"), proximo},
                       {QStringLiteral("TipoFluxo"), 0},
                       {QStringLiteral("AbortarFluxoCaptura"), false},
                       {QStringLiteral("FormatoInfoCaptura"), 0},
                       {QStringLiteral("InfoCaptura"), QString()},
                       {QStringLiteral("Dados"), dados},
                       {QStringLiteral("ComponentesTela"), passos[size_t(proximo - 1)].componentes}};
}

int resultado(const char *entryPoint) {
    return sim::nextReply(entryPoint).toInt(0);
}

// The amount of the approval that waits for a confirmation or undo; empty when none. Each
// settlement settles the one approval then waiting.
QString &pendente() {
    static QString valor = [] {
        const QList<QJsonObject> approvals = sim::returns("aprovacao");
        return approvals.size() > sim::returns("liquidacao").size()
                   ? approvals.last().value(QStringLiteral("valor")).toString()
                   : QString();
    }();
    return valor;
}

// One call of a step function: plays the scenario's reply or the built-in flow and writes
// the answer into the buffer without ever going past what the service gave.
int passo(const char *entryPoint, Funcao funcao, int operacao, char *buffer, int *tamanho) {
    const QByteArray recebido = buffer ? QByteArray(buffer) : QByteArray();
    const int tamanhoEntrada = tamanho ? *tamanho : 0;
    QJsonObject argumentos{{QStringLiteral("captura"), QString::fromUtf8(recebido)},
                           {QStringLiteral("tamanho"), tamanhoEntrada}};
    if (funcao == Funcao::Pagamento)
        argumentos.insert(QStringLiteral("tipo"), operacao);
    else if (funcao == Funcao::Adm)
        argumentos.insert(QStringLiteral("operacao"), operacao);
    sim::logCall(entryPoint, argumentos);
    if (!buffer || !tamanho)
        return -1;

    const QJsonObject reply = sim::nextReply(entryPoint).toObject();
    const QJsonObject entrada = QJsonDocument::fromJson(recebido).object();
    if (funcao != Funcao::Configuracao && entrada.value(QLatin1String("SequenciaCaptura")).toInt() == 0)
        sim::logReturn("inicio", {{QStringLiteral("valor"), entrada.value(QLatin1String("InfoCaptura"))}});
    QByteArray saida;
    if (reply.contains(QLatin1String("texto")))
        saida = reply.value(QLatin1String("texto")).toString().toLocal8Bit();
    else if (reply.contains(QLatin1String("documento")))
        saida =
            QJsonDocument(reply.value(QLatin1String("documento")).toObject()).toJson(QJsonDocument::Compact);
    else
        saida = QJsonDocument(proximaTela(funcao, operacao, entrada)).toJson(QJsonDocument::Compact);
    const QJsonObject tela = QJsonDocument::fromJson(saida).object();
    if ((funcao == Funcao::Pagamento || (funcao == Funcao::Adm && operacao == 12)) &&
        tela.value(QLatin1String("SequenciaCaptura")).toInt() == 99 &&
        tela.value(QLatin1String("Status")).toInt(-1) == 0) {
        if (!pendente().isEmpty())
            sim::logReturn("liquidacao",
                           {{QStringLiteral("valor"), pendente()}, {QStringLiteral("confirmar"), 1}});
        pendente() =
            entrada.value(QLatin1String("Dados")).toObject().value(QLatin1String("Valor")).toString();
        sim::logReturn("aprovacao",
                       {{QStringLiteral("valor"), pendente()}, {QStringLiteral("aprovada"), true}});
    }
    if (!reply.contains(QLatin1String("texto")))
        saida = QString::fromUtf8(saida).toLocal8Bit();

    const qint64 capacidade = qMax<qint64>(10LL * qMax(tamanhoEntrada, 0), recebido.size() + 1);
    if (reply.value(QLatin1String("semTerminador")).toBool() && !saida.isEmpty()) {
        const qint64 preencher = 10LL * qMax(tamanhoEntrada, 0);
        for (qint64 i = 0; i < preencher; ++i)
            buffer[i] = saida.at(int(i % saida.size()));
    } else if (saida.size() < capacidade) {
        std::memcpy(buffer, saida.constData(), size_t(saida.size()) + 1);
    } else {
        // Too big for this buffer: ask for a larger one and give the document back without
        // its screen, so the service repeats the same step.
        *tamanho = int((saida.size() / 10 / 1024 + 1) * 1024);
        QJsonObject mesma = entrada;
        mesma.insert(QStringLiteral("ComponentesTela"), QJsonArray());
        const QByteArray repetir = QJsonDocument(mesma).toJson(QJsonDocument::Compact);
        if (repetir.size() < capacidade)
            std::memcpy(buffer, repetir.constData(), size_t(repetir.size()) + 1);
        return 1;
    }
    if (reply.contains(QLatin1String("tamanho")))
        *tamanho = reply.value(QLatin1String("tamanho")).toInt();
    return 0;
}

} // namespace

extern "C" {

Q_DECL_EXPORT int OrvixTEF_Autenticador() {
    sim::logCall("OrvixTEF_Autenticador", QJsonObject());
    return resultado("OrvixTEF_Autenticador");
}

Q_DECL_EXPORT int OrvixTEF_IniciarOperacaoTEF() {
    sim::logCall("OrvixTEF_IniciarOperacaoTEF", QJsonObject());
    return resultado("OrvixTEF_IniciarOperacaoTEF");
}

Q_DECL_EXPORT int OrvixTEF_RealizarPagamentoTEF(int tipoPagamento, char *buffer, int *tamanho) {
    return passo("OrvixTEF_RealizarPagamentoTEF", Funcao::Pagamento, tipoPagamento, buffer, tamanho);
}

Q_DECL_EXPORT int OrvixTEF_RealizarAdmTEF(int operacao, char *buffer, int *tamanho) {
    return passo("OrvixTEF_RealizarAdmTEF", Funcao::Adm, operacao, buffer, tamanho);
}

// Built with APITEF_ORVIX_PARCIAL the library lacks these two entry points, as an older or
// damaged installation might.
#ifndef APITEF_ORVIX_PARCIAL
Q_DECL_EXPORT int OrvixTEF_RealizarConfiguracao(char *buffer, int *tamanho) {
    return passo("OrvixTEF_RealizarConfiguracao", Funcao::Configuracao, 4, buffer, tamanho);
}
#endif

Q_DECL_EXPORT int OrvixTEF_ConfirmarOperacaoTEF(int confirmar) {
    sim::logCall("OrvixTEF_ConfirmarOperacaoTEF", QJsonObject{{QStringLiteral("confirmar"), confirmar}});
    const int result = resultado("OrvixTEF_ConfirmarOperacaoTEF");
    if (result == 0 && !pendente().isEmpty())
        sim::logReturn("liquidacao", {{QStringLiteral("valor"), std::exchange(pendente(), QString())},
                                      {QStringLiteral("confirmar"), confirmar}});
    return result;
}

#ifndef APITEF_ORVIX_PARCIAL
Q_DECL_EXPORT int OrvixTEF_FinalizarOperacaoTEF(int codigo) {
    sim::logCall("OrvixTEF_FinalizarOperacaoTEF", QJsonObject{{QStringLiteral("codigo"), codigo}});
    return resultado("OrvixTEF_FinalizarOperacaoTEF");
}
#endif

} // extern "C"
