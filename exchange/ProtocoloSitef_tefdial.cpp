#include "exchange/ProtocoloSitef_lines.h"

#include <QDate>
#include <QDateTime>
#include <QJsonObject>
#include <QTime>

#include <algorithm>
#include <atomic>
#include <utility>

using namespace protocolo;

namespace {

// 731-000's numbers, which requests use too.
enum class Card { Unknown = 0, Credit = 1, Debit = 2, Voucher = 3, Fleet = 4, PrivateLabel = 5 };
enum class Mode { Unknown, Single, Instalments };
enum class Holder { Unknown, Store, Issuer };

// What the library, and where it is silent the request, says of a payment.
struct Payment {
    Card card = Card::Unknown;
    Mode mode = Mode::Unknown;
    Holder holder = Holder::Unknown;
    int count = 0; // instalments; 0 when not known
};

Card cardOf(const QString &word) {
    // "CRÉDITO" as well as "CREDITO", "PRIVATE_LABEL" as well as "PRIVATE LABEL".
    QString letters;
    for (const QChar c : word.normalized(QString::NormalizationForm_D))
        if (!c.isMark())
            letters += c == QLatin1Char('_') ? QChar(QLatin1Char(' ')) : c.toUpper();
    static const std::pair<const char *, Card> names[] = {{"CREDITO", Card::Credit},
                                                          {"DEBITO", Card::Debit},
                                                          {"VOUCHER", Card::Voucher},
                                                          {"FROTA", Card::Fleet},
                                                          {"PRIVATE LABEL", Card::PrivateLabel}};
    for (const auto &name : names)
        if (letters.trimmed() == QLatin1String(name.first))
            return name.second;
    return Card::Unknown;
}

// The request's numbers where the library's reply is silent: the payment was run as asked.
void fillFromRequest(Payment &payment, const QJsonObject &request) {
    const auto number = [&request](const char *name) {
        bool isNumber = false;
        const int n = request.value(QLatin1String(name)).toString().trimmed().toInt(&isNumber);
        return isNumber ? n : -1;
    };
    const int card = number("tipo_cartao");
    if (payment.card == Card::Unknown && card >= 1 && card <= 5)
        payment.card = Card(card);
    const int type = number("tipo_parcelamento");
    if (payment.holder == Holder::Unknown)
        payment.holder = type == 0 ? Holder::Store : type == 1 ? Holder::Issuer : Holder::Unknown;
    // Not against a library that says the sale was one payment.
    if (payment.count <= 0 && payment.mode != Mode::Single)
        payment.count = std::max(0, number("quantidade_parcelas"));
}

// The lines of a payment, one rule for every product; an empty text is a line not written.
// 011-000 the kind: 10 credit in one payment, 11 in instalments by the store, 12 by the
// issuer, 20 debit. 017-000 whose instalments (0 store, 1 issuer) and 018-000 how many, for a
// sale in instalments only. 731-000 the card's number.
struct PaymentLines {
    QString kind;
    QString holder;
    QString count;
    QString card;
};

PaymentLines paymentLines(const Payment &payment, bool cancellation) {
    PaymentLines lines;
    if (payment.card != Card::Unknown)
        lines.card = QString::number(int(payment.card));
    // These clients would book a cancellation as a sale.
    if (cancellation)
        return lines;
    // A count wins over a word for the plan; a debit is one payment.
    const bool instalments = payment.card != Card::Debit &&
                             (payment.count > 0 ? payment.count > 1 : payment.mode == Mode::Instalments);
    // Instalments nobody says whose are the store's, the plan a library takes when not told.
    const bool issuer = payment.holder == Holder::Issuer;
    if (instalments) {
        lines.holder = issuer ? QStringLiteral("1") : QStringLiteral("0");
        if (payment.count > 1)
            lines.count = QString::number(payment.count);
    }
    if (payment.card == Card::Debit)
        lines.kind = QStringLiteral("20");
    else if (payment.card == Card::Credit)
        lines.kind = !instalments ? QStringLiteral("10")
                     : issuer     ? QStringLiteral("12")
                                  : QStringLiteral("11");
    return lines;
}

// 0 when the text is no count.
int instalmentsOf(const QString &text) {
    bool isNumber = false;
    const int instalments = text.trimmed().toInt(&isNumber);
    return isNumber ? std::max(0, instalments) : 0;
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

bool is(const QString &text, const char *word) {
    return text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
}

// A date and a time, as "ddMMyyyy HHmmss", "dd/MM/yyyy HH:mm:ss" or ISO 8601.
void dateTimeOf(const QString &text, QDate &date, QTime &time) {
    const QString dateTime = text.trimmed();
    int separator = dateTime.indexOf(QLatin1Char(' '));
    if (separator < 0)
        separator = dateTime.indexOf(QLatin1Char('T'));
    date = dateOf(separator < 0 ? dateTime : dateTime.left(separator));
    time = separator < 0 ? QTime() : timeOf(dateTime.mid(separator + 1).trimmed());
}

} // namespace

struct ProtocoloSitef::TefDial {
    QStringList cardholder; // the cardholder's copy of the receipt
    QStringList store;      // the store's copy
    Payment payment;        // the library's words
    QJsonObject request;    // the response document's "requisicao"
    bool cancellation = false;
    QDate date; // the library's; invalid when it gives none
    QTime time;
    QDate originalDate; // of the transaction a cancellation undoes, from the library
    QTime originalTime;
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

    Payment payment = facts.payment;
    fillFromRequest(payment, facts.request);
    const PaymentLines paid = paymentLines(payment, facts.cancellation);
    for (const auto &line :
         {std::make_pair(TAG_011_000, paid.kind), std::make_pair(TAG_017_000, paid.holder),
          std::make_pair(TAG_018_000, paid.count), std::make_pair(TAG_731_000, paid.card)}) {
        lines.removeTag(line.first);
        if (!line.second.isEmpty())
            lines.add(line.first, line.second);
    }

    // The transaction a cancellation undoes, as the client named it in its request, which it
    // finds the sale by; else as the library names it.
    lines.removeTag(u"025-000");
    lines.removeTag(u"026-000");
    if (facts.cancellation) {
        const auto asked = [&facts](const char *name) {
            return facts.request.value(QLatin1String(name)).toString().trimmed();
        };
        QString nsu = asked("numero_transacao");
        for (const QString &tag : {TAG_012_001, TAG_043_001})
            if (nsu.isEmpty())
                nsu = lines.valueOf(tag).trimmed();
        if (!nsu.isEmpty())
            lines.add(u"025-000", nsu);
        QDate date = dateOf(asked("data_transacao"));
        QTime time = timeOf(asked("hora_transacao"));
        if (!date.isValid() || !time.isValid()) {
            date = facts.originalDate;
            time = facts.originalTime;
        }
        // Day, month and time only.
        if (date.isValid() && time.isValid())
            lines.add(u"026-000",
                      date.toString(QStringLiteral("ddMM")) + time.toString(QStringLiteral("HHmmss")));
    }

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
    facts.request = member("requisicao").toObject();
    facts.cancellation = lines.valueOf(TAG_000_000) == OP_CNC;
    facts.payment.card = cardOf(member("tipoCartao").toString());
    const QString financing = member("tipoFinanciamento").toString();
    if (is(financing, "A_VISTA") || is(financing, "A VISTA")) {
        facts.payment.mode = Mode::Single;
    } else if (is(financing, "PARCELADO_ESTABELECIMENTO") || is(financing, "PARCELADO_EMISSOR")) {
        facts.payment.mode = Mode::Instalments;
        facts.payment.holder = is(financing, "PARCELADO_EMISSOR") ? Holder::Issuer : Holder::Store;
    }
    facts.payment.count = instalmentsOf(textOf(member("numeroParcelas")));
    dateTimeOf(member("dataHoraTransacao").toString(), facts.date, facts.time);
    dateTimeOf(member("dataHoraTransacaoOriginal").toString(), facts.originalDate, facts.originalTime);
    facts.control = textOf(member("identificadorConfirmacaoTransacao")).trimmed();
    const QJsonValue requires = member("requerConfirmacao");
    if (requires.isBool())
    facts.confirmation = requires.toBool() ? QStringLiteral("2") : QStringLiteral("1");
    facts.currency = textOf(member("codigoMoeda"));
    adaptTefDial(lines, facts);
}

void ProtocoloSitef::tefDialTef(Lines &lines, const QJsonObject &document, const QJsonObject &tef,
                                const QStringList &storeCopy, const QStringList &holderCopy,
                                const QString &formaPagamento) const {
    const auto member = [&tef](const char *name) {
        return tef.value(QLatin1String(name));
    };
    TefDial facts;
    facts.cardholder = holderCopy;
    facts.store = storeCopy;
    facts.request = document.value(QLatin1String("requisicao")).toObject();
    facts.cancellation = lines.valueOf(TAG_000_000) == OP_CNC;
    facts.payment.card = cardOf(member("tipoCartao").toString());
    facts.payment.mode = is(formaPagamento, "a vista")     ? Mode::Single
                         : is(formaPagamento, "parcelado") ? Mode::Instalments
                                                           : Mode::Unknown;
    const QString financing = member("tipoFinanciamento").toString();
    facts.payment.holder = is(financing, "Estabelecimento")  ? Holder::Store
                           : is(financing, "Administradora") ? Holder::Issuer
                                                             : Holder::Unknown;
    facts.payment.count = instalmentsOf(textOf(member("numeroParcelas")));
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
    facts.request = document.value(QLatin1String("requisicao")).toObject();
    // What the operator chose: 1 debit, 2 credit, 12 a cancellation.
    const int operation = asInteger(document.value(QLatin1String("operacao"))).toInt();
    facts.cancellation = operation == 12 || document.value(QLatin1String("header")).toString() == OP_CNC;
    facts.payment.card = operation == 1 ? Card::Debit : operation == 2 ? Card::Credit : Card::Unknown;
    const QString form = found.value(QStringLiteral("FormaFinanciamento"));
    facts.payment.holder = form == QLatin1String("E")   ? Holder::Store
                           : form == QLatin1String("A") ? Holder::Issuer
                                                        : Holder::Unknown;
    facts.payment.count = instalmentsOf(found.value(QStringLiteral("NroParcelas")));
    facts.date = sitefDate(found.value(QStringLiteral("DataTrans")), m_clock().date());
    facts.time = timeOf(found.value(QStringLiteral("HoraTrans")));
    // The library's control code, on 027-000 where these applications look for it; 011-000
    // carries the kind of payment.
    facts.control = found.value(QStringLiteral("NroControle"));
    adaptTefDial(lines, facts);
}
