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
enum class Card { Unknown, Credit, Debit };
enum class Plan { Unknown, Single, Store, Issuer };

Card cardOf(const QString &word) {
    // "CRÉDITO" as well as "CREDITO".
    QString letters;
    for (const QChar c : word.normalized(QString::NormalizationForm_D))
        if (!c.isMark())
            letters += c;
    if (letters.compare(QLatin1String("CREDITO"), Qt::CaseInsensitive) == 0)
        return Card::Credit;
    if (letters.compare(QLatin1String("DEBITO"), Qt::CaseInsensitive) == 0)
        return Card::Debit;
    return Card::Unknown;
}

// "011-000" as sales applications read it: 10 credit in one payment, 11 credit in instalments
// by the store, 12 by the card issuer, 20 debit; empty when the kind is not known.
// `instalments` is -1 when the number of instalments is not known.
QString paymentKind(Card card, Plan plan, int instalments) {
    if (card == Card::Debit)
        return QStringLiteral("20");
    if (card != Card::Credit)
        return QString();
    if (plan == Plan::Single || (instalments >= 0 && instalments <= 1))
        return QStringLiteral("10");
    if (plan == Plan::Store)
        return QStringLiteral("11");
    if (plan == Plan::Issuer)
        return QStringLiteral("12");
    // Instalments, but whose is not known.
    return instalments < 0 ? QStringLiteral("10") : QString();
}

int instalmentsOf(const QString &text) {
    bool isNumber = false;
    const int instalments = text.trimmed().toInt(&isNumber);
    return isNumber && instalments >= 0 ? instalments : -1;
}

QDate dateOf(const QString &text) {
    for (const char *format : {"ddMMyyyy", "dd/MM/yyyy", "yyyy-MM-dd", "dd-MM-yyyy", "dd.MM.yyyy"}) {
        const QDate date = QDate::fromString(text, QLatin1String(format));
        if (date.isValid())
            return date;
    }
    return QDate();
}

QTime timeOf(const QString &text) {
    for (const char *format : {"HHmmss", "HH:mm:ss", "HH:mm:ss.zzz", "HHmm", "HH:mm"}) {
        const QTime time = QTime::fromString(text, QLatin1String(format));
        if (time.isValid())
            return time;
    }
    return QTime();
}

// The SiTef layout's date, month and day ("MMdd"), in the year that puts it nearest before
// `today`: a sale of 31 December answered on 1 January is of the year before.
QDate sitefDate(const QString &mmdd, const QDate &today) {
    bool isNumber = false;
    mmdd.toInt(&isNumber);
    if (mmdd.size() != 4 || !isNumber)
        return QDate();
    const int month = mmdd.leftRef(2).toInt();
    const int day = mmdd.rightRef(2).toInt();
    const QDate date(today.year(), month, day);
    return date.isValid() && date > today.addDays(1) ? QDate(today.year() - 1, month, day) : date;
}

// A control code no other answer on this machine has: the answer's time in milliseconds,
// moved on past the last code this process gave. A restart begins after its predecessor's
// codes as long as the clock does not go back.
QString newControlCode(const QDateTime &now) {
    static std::atomic<qint64> last{0};
    const qint64 proposed = now.toMSecsSinceEpoch();
    qint64 previous = last.load();
    qint64 code;
    do
        code = std::max(proposed, previous + 1);
    while (!last.compare_exchange_weak(previous, code));
    return QString::number(code);
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
    QStringList cardholder; // the cardholder's copy of the receipt
    QStringList store;      // the store's copy
    QString kind;           // "011-000"; empty when not known
    QDate date;             // the library's; invalid when it gives none
    QTime time;
    QString control;      // the library's control code; empty when it gives none
    QString confirmation; // "729-000" from the library; empty: from the result and receipt
    QString currency;     // the library's currency; empty when it gives none
};

// Turns a response in the service's layout into the one TEF Dial sales applications read.
void ProtocoloSitef::adaptTefDial(Lines &lines, const TefDial &facts) const {
    const QDateTime now = m_clock();
    const bool hasCardholder = !facts.cardholder.isEmpty() && !Lines::isBlankBlock(facts.cardholder);
    const bool hasStore = !facts.store.isEmpty() && !Lines::isBlankBlock(facts.store);
    // Such applications print the lines counted by 028-000 as the first copy, the
    // cardholder's, and the 029- lines beyond the count as the second, the store's; with none
    // beyond, they print the first again.
    if (hasCardholder && hasStore) {
        lines.removeTag(TAG_028_000);
        lines.removeStartingWith(u"029-");
        lines.addNumbered(kCompleteReceipt, facts.cardholder + facts.store, facts.cardholder.size());
        // Which copies to print: both (the library's own word means something else to them).
        lines.removeTag(u"737-000");
        lines.add(u"737-000", u"3");
    } else if ((hasCardholder || hasStore) && !lines.anyStartsWith(u"029-")) {
        lines.removeTag(TAG_028_000);
        lines.addNumbered(kCompleteReceipt, hasCardholder ? facts.cardholder : facts.store);
    }

    lines.removeTag(TAG_011_000);
    if (!facts.kind.isEmpty())
        lines.add(TAG_011_000, facts.kind);

    lines.removeTag(TAG_022_000);
    lines.removeTag(TAG_023_000);
    lines.add(TAG_022_000,
              (facts.date.isValid() ? facts.date : now.date()).toString(QStringLiteral("ddMMyyyy")));
    lines.add(TAG_023_000,
              (facts.time.isValid() ? facts.time : now.time()).toString(QStringLiteral("HHmmss")));

    lines.removeTag(TAG_027_000);
    lines.add(TAG_027_000, facts.control.isEmpty() ? newControlCode(now) : facts.control);

    // 2: the sale must be confirmed; anything else reads as "no confirmation needed".
    QString confirmation = facts.confirmation;
    if (confirmation.isEmpty()) {
        const bool approved = lines.valueOf(TAG_009_000) == QLatin1String("0");
        confirmation =
            approved && lines.valueOf(TAG_028_000).toInt() > 0 ? QStringLiteral("2") : QStringLiteral("1");
    }
    lines.removeTag(u"729-000");
    lines.add(u"729-000", confirmation);

    // 0 Real, 1 US dollar; a currency of another name is not written.
    const QString currency = facts.currency.trimmed().toUpper();
    lines.removeTag(TAG_004_000);
    if (currency.isEmpty() || currency == QLatin1String("986") || currency == QLatin1String("BRL") ||
        currency == QLatin1String("0"))
        lines.add(TAG_004_000, u"0");
    else if (currency == QLatin1String("840") || currency == QLatin1String("USD") ||
             currency == QLatin1String("1"))
        lines.add(TAG_004_000, u"1");
}

void ProtocoloSitef::tefDialBridge(Lines &lines, const QJsonObject &document, const QStringList &storeCopy,
                                   const QStringList &holderCopy) const {
    const auto member = [&document](const char *name) {
        return document.value(QLatin1String(name));
    };
    TefDial facts;
    facts.cardholder = holderCopy;
    facts.store = storeCopy;
    const QString financing = member("tipoFinanciamento").toString();
    const Plan plan = is(financing, "PARCELADO_ESTABELECIMENTO")             ? Plan::Store
                      : is(financing, "PARCELADO_EMISSOR")                   ? Plan::Issuer
                      : is(financing, "A_VISTA") || is(financing, "A VISTA") ? Plan::Single
                                                                             : Plan::Unknown;
    facts.kind = paymentKind(cardOf(member("tipoCartao").toString()), plan,
                             instalmentsOf(textOf(member("numeroParcelas"))));
    // A date and a time, as "ddMMyyyy HHmmss", "dd/MM/yyyy HH:mm:ss" or ISO 8601.
    const QString dateTime = member("dataHoraTransacao").toString().trimmed();
    int separator = dateTime.indexOf(QLatin1Char(' '));
    if (separator < 0)
        separator = dateTime.indexOf(QLatin1Char('T'));
    facts.date = dateOf(separator < 0 ? dateTime : dateTime.left(separator));
    if (separator >= 0)
        facts.time = timeOf(dateTime.mid(separator + 1).trimmed());
    facts.control = textOf(member("identificadorConfirmacaoTransacao")).trimmed();
    const QJsonValue requires = member("requerConfirmacao");
    if (requires.isBool())
    facts.confirmation = requires.toBool() ? QStringLiteral("2") : QStringLiteral("1");
    facts.currency = textOf(member("codigoMoeda"));
    adaptTefDial(lines, facts);
}

void ProtocoloSitef::tefDialTef(Lines &lines, const QJsonObject &tef, const QStringList &storeCopy,
                                const QStringList &holderCopy, const QString &formaPagamento) const {
    const auto member = [&tef](const char *name) {
        return tef.value(QLatin1String(name));
    };
    TefDial facts;
    facts.cardholder = holderCopy;
    facts.store = storeCopy;
    Plan plan = Plan::Unknown;
    int instalments = instalmentsOf(textOf(member("numeroParcelas")));
    if (is(formaPagamento, "a vista")) {
        plan = Plan::Single;
    } else if (is(formaPagamento, "parcelado")) {
        const QString financing = member("tipoFinanciamento").toString();
        plan = is(financing, "Estabelecimento")  ? Plan::Store
               : is(financing, "Administradora") ? Plan::Issuer
                                                 : Plan::Unknown;
        if (instalments < 0)
            instalments = 2;
    }
    facts.kind = paymentKind(cardOf(member("tipoCartao").toString()), plan, instalments);
    facts.control = member("uniqueID").toString().trimmed();
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
    copy("comprovante_cliente", u"712-000|713-xxx", facts.cardholder);
    copy("comprovante_loja", u"714-000|715-xxx", facts.store);
    // The first non-empty value of each item.
    QHash<QString, QString> found;
    const QStringList items =
        document.value(QLatin1String("dados_transacao")).toString().split(QLatin1Char(','));
    for (const QString &item : items) {
        const int colon = item.indexOf(QLatin1Char(':'));
        const QString value = item.mid(colon + 1).simplified();
        if (colon >= 0 && !value.isEmpty())
            found.insert(item.left(colon).simplified(), found.value(item.left(colon).simplified(), value));
    }
    // What the operator chose: 1 debit, 2 credit.
    const int operation = asInteger(document.value(QLatin1String("operacao"))).toInt();
    const Card card = operation == 1 ? Card::Debit : operation == 2 ? Card::Credit : Card::Unknown;
    const QString form = found.value(QStringLiteral("FormaFinanciamento"));
    const Plan plan = form == QLatin1String("E")   ? Plan::Store
                      : form == QLatin1String("A") ? Plan::Issuer
                                                   : Plan::Unknown;
    facts.kind = paymentKind(card, plan, instalmentsOf(found.value(QStringLiteral("NroParcelas"))));
    facts.date = sitefDate(found.value(QStringLiteral("DataTrans")), m_clock().date());
    facts.time = timeOf(found.value(QStringLiteral("HoraTrans")));
    // The library's control code, on 027-000 where these applications look for it; 011-000
    // carries the kind of payment.
    facts.control = found.value(QStringLiteral("NroControle"));
    adaptTefDial(lines, facts);
}
