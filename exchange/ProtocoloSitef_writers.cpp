#include "exchange/ProtocoloSitef.h"

#include "app/Log.h"

#include <QDate>
#include <QDateTime>
#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

const QString completeReceipt = QStringLiteral("028-000|029-xxx");

bool isAbsent(const QJsonValue &value) {
    return value.isUndefined() || value.isNull();
}

// A whole JSON number in decimal, "0" for anything else. The range check keeps the
// conversion defined for numbers no 64-bit integer can hold.
QString asInteger(const QJsonValue &value) {
    if (!value.isDouble())
        return QStringLiteral("0");
    const double number = value.toDouble();
    constexpr double limit = -static_cast<double>(std::numeric_limits<qint64>::min());
    if (std::trunc(number) != number || number < -limit || number >= limit)
        return QStringLiteral("0");
    return QString::number(static_cast<qint64>(number));
}

QString asBool(const QJsonValue &value) {
    return value.toBool(false) ? QStringLiteral("true") : QStringLiteral("false");
}

// Empty for text that is not JSON and for an empty object (or a non-object document).
QJsonObject responseObject(const QString &json) {
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

// A line break inside a value would split the line in the sales application's reader and
// could even forge a line of its own (say "009-000 = 0"), so values never carry one.
bool hasLineBreak(QStringView text) {
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c == u'\n' || c == u'\r'; });
}

// A position of a counted block: at least three digits, zero-padded.
QStringView positionDigits(int position, char16_t (&buffer)[12]) {
    char16_t *const end = std::end(buffer);
    char16_t *first = end;
    auto rest = static_cast<unsigned>(position);
    do {
        *--first = static_cast<char16_t>(u'0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    while (end - first < 3)
        *--first = u'0';
    return QStringView(first, end);
}

// What text.split(separator).value(n) gives for n = 0 and 1, without copying.
QStringView part(QStringView text, QChar separator, int n) {
    const qsizetype first = text.indexOf(separator);
    if (n == 0)
        return first < 0 ? text : text.left(first);
    if (first < 0)
        return QStringView();
    const QStringView rest = text.mid(first + 1);
    const qsizetype next = rest.indexOf(separator);
    return next < 0 ? rest : rest.left(next);
}

} // namespace

// The lines of a response, in the layout of lineFormat, written back to back into one buffer
// and put in order only when joined. A response holds a hundred lines and more: a string
// and a list node for each, and sorting them with whole-string comparisons, cost more than
// everything else but parsing the document.
class ProtocoloSitef::Lines {
public:
    explicit Lines(int expectedChars = 1024) {
        m_text.reserve(expectedChars);
        m_lines.reserve(128);
    }

    // "tag = value", the tag given in up to three pieces.
    void add(QStringView tag, QStringView value) { add(tag, QStringView(), QStringView(), value); }
    void add(QStringView head, QStringView middle, QStringView tail, QStringView value) {
        static constexpr QStringView equals(u" = ");
        const int begin = m_text.size();
        m_text.resize(begin + static_cast<int>(head.size() + middle.size() + tail.size() + equals.size() +
                                               value.size()));
        QChar *out = m_text.data() + begin;
        for (const QStringView piece : {head, middle, tail, equals, value})
            out = copy(piece, out);
        if (hasLineBreak(value)) {
            // Only the new line is compacted; the buffer before it is left as it is.
            QChar *const first = m_text.data() + begin;
            QChar *const last = std::remove_if(first, m_text.data() + m_text.size(),
                                               [](QChar c) { return c == u'\n' || c == u'\r'; });
            m_text.truncate(static_cast<int>(last - m_text.constData()));
        }
        m_lines.push_back({begin, m_text.size() - begin});
    }

    // The line of a Bool, Integer or Text row; LineList rows are blocks of their own.
    void addValue(const TagMapping &row, const QJsonValue &value) {
        switch (row.kind) {
        case ValueKind::Bool:
            add(row.tag, asBool(value));
            break;
        case ValueKind::Integer:
            add(row.tag, asInteger(value));
            break;
        default:
            add(row.tag, value.toString());
            break;
        }
    }

    // Every text on its numbered line ("xxx" of the line tag pattern is the 1-based
    // position), then the count line: the number of texts unless `count` says otherwise.
    void addNumbered(QStringView tags, const QStringList &texts, int count = -1) {
        const QStringView countTag = part(tags, u'|', 0);
        const QStringView pattern = part(tags, u'|', 1);
        const qsizetype at = pattern.indexOf(QLatin1String("xxx"));
        const QStringView head = at < 0 ? pattern : pattern.left(at);
        const QStringView tail = at < 0 ? QStringView() : pattern.mid(at + 3);
        char16_t buffer[12];
        for (int i = 0; i < texts.size(); ++i)
            add(head, positionDigits(i + 1, buffer), tail, texts.at(i));
        add(countTag, QString::number(count < 0 ? texts.size() : count));
    }

    // Whether addTextBlock leaves `texts` out: a block holding a single blank text.
    static bool isBlankBlock(const QStringList &texts) {
        return texts.size() == 1 && texts.first().trimmed().isEmpty();
    }

    void addTextBlock(QStringView tags, const QStringList &texts) {
        if (!isBlankBlock(texts))
            addNumbered(tags, texts);
    }

    int size() const { return static_cast<int>(m_lines.size()); }

    bool anyStartsWith(QStringView prefix) const {
        return std::any_of(m_lines.cbegin(), m_lines.cend(),
                           [&](const Span &span) { return view(span).startsWith(prefix); });
    }

    void removeStartingWith(QStringView prefix) {
        m_lines.erase(std::remove_if(m_lines.begin(), m_lines.end(),
                                     [&](const Span &span) { return view(span).startsWith(prefix); }),
                      m_lines.end());
    }

    // Every line of `tag`.
    void removeTag(QStringView tag) { removeStartingWith(tag.toString() + QLatin1String(" = ")); }

    // The value of the first line of `tag`; null when there is none.
    QString valueOf(QStringView tag) const {
        const QString prefix = tag.toString() + QLatin1String(" = ");
        for (const Span &span : m_lines)
            if (view(span).startsWith(prefix))
                return view(span).mid(prefix.size()).toString();
        return QString();
    }

    // The lines in the order they were added.
    QStringList toList() const {
        QStringList list;
        list.reserve(size());
        for (const Span &span : m_lines)
            list << view(span).toString();
        return list;
    }

    // The lines in QStringList::sort() order (code unit by code unit, a prefix before what
    // it begins), joined by `separator` and, with `trailing`, ended by it too. Lines mostly
    // differ within their first eight code units: packed into two integers, those settle
    // nearly every comparison, and equal packs fall back to comparing whole lines.
    QString sortedJoin(QStringView separator, bool trailing) const {
        struct Entry {
            quint64 head;
            quint64 next;
            Span span;
        };
        std::vector<Entry> entries;
        entries.reserve(m_lines.size());
        qsizetype length = trailing || m_lines.empty() ? 0 : -separator.size();
        for (const Span &span : m_lines) {
            const QStringView line = view(span);
            entries.push_back({pack(line, 0), pack(line, 4), span});
            length += span.size + separator.size();
        }
        std::sort(entries.begin(), entries.end(), [this](const Entry &a, const Entry &b) {
            if (a.head != b.head)
                return a.head < b.head;
            if (a.next != b.next)
                return a.next < b.next;
            return view(a.span) < view(b.span);
        });

        QString joined(static_cast<int>(length), Qt::Uninitialized);
        QChar *out = joined.data();
        for (size_t i = 0; i < entries.size(); ++i) {
            if (i > 0)
                out = copy(separator, out);
            out = copy(view(entries[i].span), out);
        }
        if (trailing && !entries.empty())
            copy(separator, out);
        return joined;
    }

private:
    struct Span {
        int begin;
        int size;
    };

    QStringView view(const Span &span) const { return QStringView(m_text).mid(span.begin, span.size); }

    // Returns the end of the copy. An empty view may carry no data: never hand that to memcpy.
    static QChar *copy(QStringView text, QChar *out) {
        if (text.isEmpty())
            return out;
        std::memcpy(static_cast<void *>(out), text.data(), static_cast<size_t>(text.size()) * sizeof(QChar));
        return out + text.size();
    }

    // Four code units from `from` as one number in the same order; missing ones count as
    // zero, which keeps a line before every longer line it begins.
    static quint64 pack(QStringView text, int from) {
        quint64 packed = 0;
        for (int i = from; i < from + 4; ++i)
            packed = (packed << 16) | (i < text.size() ? text[i].unicode() : 0u);
        return packed;
    }

    QString m_text;
    std::vector<Span> m_lines;
};

namespace {

// The member of each dictionary row, null where the object has none.
QVector<QJsonValue> valuesByRow(const QJsonObject &object, const QHash<QString, int> &rows, int count) {
    QVector<QJsonValue> values(count);
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        const auto row = rows.constFind(it.key());
        if (row != rows.cend())
            values[*row] = it.value();
    }
    return values;
}

QStringList textsOf(const QJsonArray &array) {
    QStringList texts;
    texts.reserve(array.size());
    for (const QJsonValue value : array)
        texts << value.toString();
    return texts;
}

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
        lines.addNumbered(completeReceipt, facts.portador + facts.loja, facts.portador.size());
        // Which copies to print: both (the library's own word means something else to them).
        lines.removeTag(u"737-000");
        lines.add(u"737-000", u"3");
    } else if ((portador || loja) && !lines.anyStartsWith(u"029-")) {
        lines.removeTag(TAG_028_000);
        lines.addNumbered(completeReceipt, portador ? facts.portador : facts.loja);
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

void ProtocoloSitef::addOperation(Lines &lines, const QString &tag, const QString &operation) const {
    if (operation == QLatin1String("VENDA"))
        lines.add(tag, OP_CRT);
    else if (operation == QLatin1String("CANCELAMENTO"))
        lines.add(tag, OP_CNC);
    else if (operation == QLatin1String("ADMINISTRATIVA"))
        lines.add(tag, OP_ADM);
    else
        lines.add(tag, operation);
}

// A value without a blank has no time: its line is written empty.
void ProtocoloSitef::addDateTime(Lines &lines, const QString &tags, const QString &value) const {
    lines.add(part(tags, u'|', 0), part(value, u' ', 0));
    lines.add(part(tags, u'|', 1), part(value, u' ', 1));
}

QStringList ProtocoloSitef::operationLine(const QString &tag, const QString &operation) const {
    Lines lines;
    addOperation(lines, tag, operation);
    return lines.toList();
}

QStringList ProtocoloSitef::dateTimeLines(const QString &tags, const QString &value) const {
    Lines lines;
    addDateTime(lines, tags, value);
    return lines.toList();
}

QStringList ProtocoloSitef::lineBlock(const QString &tags, const QJsonArray &texts) const {
    Lines lines;
    lines.addTextBlock(tags, textsOf(texts));
    return lines.toList();
}

QString ProtocoloSitef::buildBridgeResponse(const QString &json) const {
    const QJsonObject document = responseObject(json);
    if (document.isEmpty())
        return QString();
    qInfo().noquote() << QStringLiteral("Tags para iterar: %1").arg(bridgeTags.size());

    Lines lines(json.size() * 2);
    QStringList storeCopy;
    QStringList holderCopy;
    const QVector<QJsonValue> values = valuesByRow(document, m_bridgeRows, bridgeTags.size());
    for (int i = 0; i < bridgeTags.size(); ++i) {
        const TagMapping &row = bridgeTags.at(i);
        const QJsonValue &value = values.at(i);
        if (isAbsent(value))
            continue;
        if (row.name == QLatin1String("operacao")) {
            addOperation(lines, row.tag, value.toString());
        } else if (row.name == QLatin1String("dataHoraTransacao")) {
            addDateTime(lines, row.tag, value.toString());
        } else if (row.name == QLatin1String("tipoFinanciamento")) {
            const QString word = value.toString();
            if (word.compare(QLatin1String("PARCELADO_ESTABELECIMENTO"), Qt::CaseInsensitive) == 0)
                lines.add(row.tag, u"0");
            else if (word.compare(QLatin1String("PARCELADO_EMISSOR"), Qt::CaseInsensitive) == 0)
                lines.add(row.tag, u"1");
        } else if (row.kind == ValueKind::LineList) {
            const QStringList texts = textsOf(value.toArray());
            // The two copies also make up the complete receipt when there is none of its own.
            if (row.name == QLatin1String("comprovanteDiferenciadoLoja"))
                storeCopy = texts;
            else if (row.name == QLatin1String("comprovanteDiferenciadoPortador"))
                holderCopy = texts;
            lines.addTextBlock(row.tag, texts);
        } else {
            lines.addValue(row, value);
        }
    }

    if (!lines.anyStartsWith(u"029-") && !(storeCopy.isEmpty() && holderCopy.isEmpty())) {
        const QStringList copies = storeCopy + holderCopy;
        if (!Lines::isBlankBlock(copies)) {
            // An empty "comprovanteCompleto" left "028-000 = 0"; two counts would contradict
            // each other, and the sales application confirms only on a count above zero.
            lines.removeStartingWith(QString(TAG_028_000 + QLatin1Char(' ')));
            lines.addNumbered(completeReceipt, copies);
        }
    }

    if (m_compatibilidade == Compatibilidade::TefDial) {
        const auto member = [&document](const char *name) {
            return document.value(QLatin1String(name));
        };
        TefDial facts;
        facts.portador = holderCopy;
        facts.loja = storeCopy;
        const QString financiamento = member("tipoFinanciamento").toString();
        const Plano plano = is(financiamento, "PARCELADO_ESTABELECIMENTO") ? Plano::Loja
                            : is(financiamento, "PARCELADO_EMISSOR")       ? Plano::Emissor
                            : is(financiamento, "A_VISTA") || is(financiamento, "A VISTA")
                                ? Plano::AVista
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
    lines.add(TAG_999_999, u"0");
    return lines.sortedJoin(lineSeparator, false);
}

QString ProtocoloSitef::buildTefResponse(const QString &json) const {
    const QJsonObject document = responseObject(json);
    if (document.isEmpty())
        return QString();
    const QJsonObject tef = document.value(QLatin1String("tef")).toObject();
    const int rows = tef.isEmpty() ? 0 : tefTags.size();
    qInfo().noquote() << QStringLiteral("Tags para iterar: %1").arg(rows);

    Lines lines(json.size() * 2);
    QStringList receiptTexts;
    QStringList storeCopy;
    QStringList holderCopy;
    QString formaPagamento;
    const QVector<QJsonValue> values = valuesByRow(tef, m_tefRows, rows);
    for (int i = 0; i < rows; ++i) {
        const TagMapping &row = tefTags.at(i);
        const QJsonValue &value = values.at(i);
        if (isAbsent(value))
            continue;
        if (row.name == QLatin1String("comprovanteDiferenciadoLoja") ||
            row.name == QLatin1String("comprovanteDiferenciadoPortador")) {
            const QStringList pieces = value.toString().split(lineSeparator);
            receiptTexts += pieces;
            (row.name == QLatin1String("comprovanteDiferenciadoLoja") ? storeCopy : holderCopy) = pieces;
            lines.addTextBlock(row.tag, pieces);
        } else if (row.name == QLatin1String("formaPagamento")) {
            formaPagamento = value.toString();
        } else if (row.name == QLatin1String("tipoFinanciamento")) {
            const bool estabelecimento =
                value.toString().compare(QLatin1String("Estabelecimento"), Qt::CaseInsensitive) == 0;
            lines.add(row.tag, estabelecimento ? u"0" : u"1");
        } else {
            lines.addValue(row, value);
        }
    }

    if (!receiptTexts.isEmpty())
        lines.addTextBlock(completeReceipt, receiptTexts);
    if (!lines.anyStartsWith(TAG_018_000) &&
        formaPagamento.compare(QLatin1String("a vista"), Qt::CaseInsensitive) == 0)
        lines.add(TAG_018_000, u"1");

    lines.add(TAG_000_000, document.value(QLatin1String("header")).toString());
    lines.add(TAG_001_000, asInteger(document.value(QLatin1String("id"))));
    lines.add(u"375-000", asInteger(document.value(QLatin1String("codigo"))));
    lines.add(u"375-001", document.value(QLatin1String("mensagem")).toString());

    if (m_compatibilidade == Compatibilidade::TefDial) {
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
    lines.add(TAG_999_999, u"0");
    return lines.sortedJoin(lineSeparator, false);
}

void ProtocoloSitef::addSitefItem(Lines &lines, const QString &item) const {
    const int colon = item.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return;
    const QString name = item.left(colon).simplified();
    // Everything after the first ":" is the value, so a time such as 10:20:30 stays whole.
    const QString value = item.mid(colon + 1).simplified();
    const auto found = m_sitefItems.constFind(name);
    if (value.isEmpty() || found == m_sitefItems.cend())
        return;

    switch (found->rule) {
    case ItemRule::Plain:
        lines.add(found->tag, value);
        break;
    case ItemRule::Pan:
        // Bank identification number, and the card's last four digits.
        lines.add(TAG_010_004, value.left(6));
        lines.add(TAG_010_005, value.right(4));
        break;
    case ItemRule::DataTrans: {
        const int year = QDate::currentDate().year();
        lines.add(found->tag,
                  value.right(2) + value.left(2) + QStringLiteral("%1").arg(year, 4, 10, QLatin1Char('0')));
        break;
    }
    case ItemRule::Trilha02:
        lines.add(found->tag, value.section(QLatin1Char('='), 0, 0));
        break;
    case ItemRule::FormaFinanciamento:
        if (value == QLatin1String("A"))
            lines.add(found->tag, u"1");
        else if (value == QLatin1String("E"))
            lines.add(found->tag, u"0");
        else
            lines.add(found->tag, value);
        break;
    }
}

QString ProtocoloSitef::buildSitefResponse(const QString &json) const {
    QJsonParseError error{};
    const QJsonDocument parsed = QJsonDocument::fromJson(json.toUtf8(), &error);
    qInfo().noquote() << Log::mask(QString::fromUtf8(parsed.toJson(QJsonDocument::Compact)));
    if (error.error != QJsonParseError::NoError) {
        qCritical().noquote() << error.errorString();
        return QString();
    }
    const QJsonObject document = parsed.object();

    Lines lines(json.size() * 2);
    lines.add(TAG_000_000, document.value(QLatin1String("header")).toString());
    lines.add(TAG_001_000, asInteger(document.value(QLatin1String("id"))));
    lines.add(TAG_009_000, asInteger(document.value(QLatin1String("resultado"))));
    const QString documentoFiscal = document.value(QLatin1String("documento_fiscal_vinculado")).toString();
    if (!documentoFiscal.isEmpty())
        lines.add(TAG_002_000, documentoFiscal);
    const QString textoOperador = document.value(QLatin1String("texto_operador")).toString();
    if (!textoOperador.isEmpty())
        lines.add(TAG_030_000, textoOperador);

    if (document.contains(QLatin1String("dados_transacao"))) {
        const QStringList items =
            document.value(QLatin1String("dados_transacao")).toString().split(QLatin1Char(','));
        for (const QString &item : items)
            addSitefItem(lines, item);
    }
    if (document.contains(QLatin1String("comprovante_loja"))) {
        const QString receipt = document.value(QLatin1String("comprovante_loja")).toString();
        lines.addNumbered(completeReceipt, receipt.split(QLatin1Char('\n')));
    }

    if (m_compatibilidade == Compatibilidade::TefDial) {
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
                itens.insert(item.left(colon).simplified(),
                             itens.value(item.left(colon).simplified(), value));
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
    lines.add(TAG_999_999, u"0");
    return lines.sortedJoin(lineSeparator, true);
}
