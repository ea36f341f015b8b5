#include "exchange/ProtocoloSitef_lines.h"

#include <QDate>
#include <QDateTime>
#include <QJsonObject>
#include <QTime>

#include <atomic>

using namespace protocolo;

namespace {

// The kind of payment, from what the library or the controller says of the card and the
// instalments.
enum class Cartao { Desconhecido, Credito, Debito };
enum class Plano { Desconhecido, AVista, Loja, Emissor };

Cartao cartaoDe(const QString &palavra) {
    // "CRÉDITO" as well as "CREDITO".
    QString letras;
    for (const QChar c : palavra.normalized(QString::NormalizationForm_D))
        if (!c.isMark())
            letras += c;
    if (letras.compare(QLatin1String("CREDITO"), Qt::CaseInsensitive) == 0)
        return Cartao::Credito;
    if (letras.compare(QLatin1String("DEBITO"), Qt::CaseInsensitive) == 0)
        return Cartao::Debito;
    return Cartao::Desconhecido;
}

// "011-000" as sales applications read it: 10 credit in one payment, 11 credit in instalments
// by the store, 12 by the card issuer, 20 debit; empty when the kind is not known.
// `parcelas` is -1 when the number of instalments is not known.
QString tipoTransacao(Cartao cartao, Plano plano, int parcelas) {
    if (cartao == Cartao::Debito)
        return QStringLiteral("20");
    if (cartao != Cartao::Credito)
        return QString();
    if (plano == Plano::AVista || (parcelas >= 0 && parcelas <= 1))
        return QStringLiteral("10");
    if (plano == Plano::Loja)
        return QStringLiteral("11");
    if (plano == Plano::Emissor)
        return QStringLiteral("12");
    // Instalments, but whose is not known.
    return parcelas < 0 ? QStringLiteral("10") : QString();
}

int parcelasDe(const QString &texto) {
    bool numero = false;
    const int parcelas = texto.trimmed().toInt(&numero);
    return numero && parcelas >= 0 ? parcelas : -1;
}

QDate dataDe(const QString &texto) {
    for (const char *formato : {"ddMMyyyy", "dd/MM/yyyy", "yyyy-MM-dd", "dd-MM-yyyy", "dd.MM.yyyy"}) {
        const QDate data = QDate::fromString(texto, QLatin1String(formato));
        if (data.isValid())
            return data;
    }
    return QDate();
}

QTime horaDe(const QString &texto) {
    for (const char *formato : {"HHmmss", "HH:mm:ss", "HH:mm:ss.zzz", "HHmm", "HH:mm"}) {
        const QTime hora = QTime::fromString(texto, QLatin1String(formato));
        if (hora.isValid())
            return hora;
    }
    return QTime();
}

// The SiTef layout's date, month and day ("MMdd"), in the year that puts it nearest before
// `hoje`: a sale of 31 December answered on 1 January is of the year before.
QDate dataSitef(const QString &mmdd, const QDate &hoje) {
    bool numero = false;
    mmdd.toInt(&numero);
    if (mmdd.size() != 4 || !numero)
        return QDate();
    const int mes = mmdd.leftRef(2).toInt();
    const int dia = mmdd.rightRef(2).toInt();
    const QDate data(hoje.year(), mes, dia);
    return data.isValid() && data > hoje.addDays(1) ? QDate(hoje.year() - 1, mes, dia) : data;
}

// A control code no other answer on this machine has: the answer's time in milliseconds,
// moved on past the last code this process gave. A restart begins after its predecessor's
// codes as long as the clock does not go back.
QString novoCodigoControle(const QDateTime &agora) {
    static std::atomic<qint64> ultimo{0};
    const qint64 proposto = agora.toMSecsSinceEpoch();
    qint64 anterior = ultimo.load();
    qint64 codigo;
    do
        codigo = std::max(proposto, anterior + 1);
    while (!ultimo.compare_exchange_weak(anterior, codigo));
    return QString::number(codigo);
}

// Texts of a JSON value that may be a string or a number.
QString textOf(const QJsonValue &value) {
    return value.isDouble() ? asInteger(value) : value.toString();
}

bool is(const QString &text, const char *word) {
    return text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
}

} // namespace

struct ProtocoloSitef::TefDial {
    QStringList portador; // the cardholder's copy of the receipt
    QStringList loja;     // the store's copy
    QString tipo;         // "011-000"; empty when not known
    QDate data;           // the library's; invalid when it gives none
    QTime hora;
    QString controle;    // the library's control code; empty when it gives none
    QString confirmacao; // "729-000" from the library; empty: from the result and receipt
    QString moeda;       // the library's currency; empty when it gives none
};

// Turns a response in the service's layout into the one TEF Dial sales applications read.
void ProtocoloSitef::adaptTefDial(Lines &lines, const TefDial &facts) const {
    const QDateTime agora = m_relogio();
    const bool portador = !facts.portador.isEmpty() && !Lines::isBlankBlock(facts.portador);
    const bool loja = !facts.loja.isEmpty() && !Lines::isBlankBlock(facts.loja);
    // Such applications print the lines counted by 028-000 as the first copy, the
    // cardholder's, and the 029- lines beyond the count as the second, the store's; with none
    // beyond, they print the first again.
    if (portador && loja) {
        lines.removeTag(TAG_028_000);
        lines.removeStartingWith(u"029-");
        lines.addNumbered(kCompleteReceipt, facts.portador + facts.loja, facts.portador.size());
        // Which copies to print: both (the library's own word means something else to them).
        lines.removeTag(u"737-000");
        lines.add(u"737-000", u"3");
    } else if ((portador || loja) && !lines.anyStartsWith(u"029-")) {
        lines.removeTag(TAG_028_000);
        lines.addNumbered(kCompleteReceipt, portador ? facts.portador : facts.loja);
    }

    lines.removeTag(TAG_011_000);
    if (!facts.tipo.isEmpty())
        lines.add(TAG_011_000, facts.tipo);

    lines.removeTag(TAG_022_000);
    lines.removeTag(TAG_023_000);
    lines.add(TAG_022_000,
              (facts.data.isValid() ? facts.data : agora.date()).toString(QStringLiteral("ddMMyyyy")));
    lines.add(TAG_023_000,
              (facts.hora.isValid() ? facts.hora : agora.time()).toString(QStringLiteral("HHmmss")));

    lines.removeTag(TAG_027_000);
    lines.add(TAG_027_000, facts.controle.isEmpty() ? novoCodigoControle(agora) : facts.controle);

    // 2: the sale must be confirmed; anything else reads as "no confirmation needed".
    QString confirmacao = facts.confirmacao;
    if (confirmacao.isEmpty()) {
        const bool aprovada = lines.valueOf(TAG_009_000) == QLatin1String("0");
        confirmacao =
            aprovada && lines.valueOf(TAG_028_000).toInt() > 0 ? QStringLiteral("2") : QStringLiteral("1");
    }
    lines.removeTag(u"729-000");
    lines.add(u"729-000", confirmacao);

    // 0 Real, 1 US dollar; a currency of another name is not written.
    const QString moeda = facts.moeda.trimmed().toUpper();
    lines.removeTag(TAG_004_000);
    if (moeda.isEmpty() || moeda == QLatin1String("986") || moeda == QLatin1String("BRL") ||
        moeda == QLatin1String("0"))
        lines.add(TAG_004_000, u"0");
    else if (moeda == QLatin1String("840") || moeda == QLatin1String("USD") || moeda == QLatin1String("1"))
        lines.add(TAG_004_000, u"1");
}

void ProtocoloSitef::tefDialBridge(Lines &lines, const QJsonObject &document, const QStringList &storeCopy,
                                   const QStringList &holderCopy) const {
    const auto member = [&document](const char *name) {
        return document.value(QLatin1String(name));
    };
    TefDial facts;
    facts.portador = holderCopy;
    facts.loja = storeCopy;
    const QString financiamento = member("tipoFinanciamento").toString();
    const Plano plano = is(financiamento, "PARCELADO_ESTABELECIMENTO")                 ? Plano::Loja
                        : is(financiamento, "PARCELADO_EMISSOR")                       ? Plano::Emissor
                        : is(financiamento, "A_VISTA") || is(financiamento, "A VISTA") ? Plano::AVista
                                                                                       : Plano::Desconhecido;
    facts.tipo = tipoTransacao(cartaoDe(member("tipoCartao").toString()), plano,
                               parcelasDe(textOf(member("numeroParcelas"))));
    // A date and a time, as "ddMMyyyy HHmmss", "dd/MM/yyyy HH:mm:ss" or ISO 8601.
    const QString dataHora = member("dataHoraTransacao").toString().trimmed();
    int separador = dataHora.indexOf(QLatin1Char(' '));
    if (separador < 0)
        separador = dataHora.indexOf(QLatin1Char('T'));
    facts.data = dataDe(separador < 0 ? dataHora : dataHora.left(separador));
    if (separador >= 0)
        facts.hora = horaDe(dataHora.mid(separador + 1).trimmed());
    facts.controle = textOf(member("identificadorConfirmacaoTransacao")).trimmed();
    const QJsonValue requer = member("requerConfirmacao");
    if (requer.isBool())
        facts.confirmacao = requer.toBool() ? QStringLiteral("2") : QStringLiteral("1");
    facts.moeda = textOf(member("codigoMoeda"));
    adaptTefDial(lines, facts);
}

void ProtocoloSitef::tefDialTef(Lines &lines, const QJsonObject &tef, const QStringList &storeCopy,
                                const QStringList &holderCopy, const QString &formaPagamento) const {
    const auto member = [&tef](const char *name) {
        return tef.value(QLatin1String(name));
    };
    TefDial facts;
    facts.portador = holderCopy;
    facts.loja = storeCopy;
    Plano plano = Plano::Desconhecido;
    int parcelas = parcelasDe(textOf(member("numeroParcelas")));
    if (is(formaPagamento, "a vista")) {
        plano = Plano::AVista;
    } else if (is(formaPagamento, "parcelado")) {
        const QString financiamento = member("tipoFinanciamento").toString();
        plano = is(financiamento, "Estabelecimento")  ? Plano::Loja
                : is(financiamento, "Administradora") ? Plano::Emissor
                                                      : Plano::Desconhecido;
        if (parcelas < 0)
            parcelas = 2;
    }
    facts.tipo = tipoTransacao(cartaoDe(member("tipoCartao").toString()), plano, parcelas);
    facts.controle = member("uniqueID").toString().trimmed();
    adaptTefDial(lines, facts);
}

void ProtocoloSitef::tefDialSitef(Lines &lines, const QJsonObject &document) const {
    TefDial facts;
    const auto copy = [&](const char *member, QStringView tags, QStringList &receipt) {
        if (!document.contains(QLatin1String(member)))
            return;
        receipt = document.value(QLatin1String(member)).toString().split(QLatin1Char('\n'));
        lines.addTextBlock(tags, receipt);
    };
    copy("comprovante_cliente", u"712-000|713-xxx", facts.portador);
    copy("comprovante_loja", u"714-000|715-xxx", facts.loja);
    // The first non-empty value of each item.
    QHash<QString, QString> itens;
    const QStringList items =
        document.value(QLatin1String("dados_transacao")).toString().split(QLatin1Char(','));
    for (const QString &item : items) {
        const int colon = item.indexOf(QLatin1Char(':'));
        const QString value = item.mid(colon + 1).simplified();
        if (colon >= 0 && !value.isEmpty())
            itens.insert(item.left(colon).simplified(), itens.value(item.left(colon).simplified(), value));
    }
    // What the operator chose: 1 debit, 2 credit.
    const int operacao = asInteger(document.value(QLatin1String("operacao"))).toInt();
    const Cartao cartao = operacao == 1   ? Cartao::Debito
                          : operacao == 2 ? Cartao::Credito
                                          : Cartao::Desconhecido;
    const QString forma = itens.value(QStringLiteral("FormaFinanciamento"));
    const Plano plano = forma == QLatin1String("E")   ? Plano::Loja
                        : forma == QLatin1String("A") ? Plano::Emissor
                                                      : Plano::Desconhecido;
    facts.tipo = tipoTransacao(cartao, plano, parcelasDe(itens.value(QStringLiteral("NroParcelas"))));
    facts.data = dataSitef(itens.value(QStringLiteral("DataTrans")), m_relogio().date());
    facts.hora = horaDe(itens.value(QStringLiteral("HoraTrans")));
    // The library's control code, on 027-000 where these applications look for it; 011-000
    // carries the kind of payment.
    facts.controle = itens.value(QStringLiteral("NroControle"));
    adaptTefDial(lines, facts);
}
