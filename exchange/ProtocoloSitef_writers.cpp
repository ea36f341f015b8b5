#include "exchange/ProtocoloSitef.h"

#include "app/Log.h"

#include <QDate>
#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringBuilder>

#include <algorithm>
#include <cmath>
#include <limits>

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

bool startsWithAny(const QStringList &lines, const QString &prefix) {
    return std::any_of(lines.cbegin(), lines.cend(), [&](const QString &l) { return l.startsWith(prefix); });
}

// Empty for text that is not JSON and for an empty object (or a non-object document).
QJsonObject responseObject(const QString &json) {
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

// The layout of lineFormat, built in one allocation (`tag` may be a string-builder
// expression): a response holds a line per receipt line.
// A line break inside a value would split the line in the sales application's reader and
// could even forge a line of its own (say "009-000 = 0"), so values never carry one.
template <typename Tag> QString line(const Tag &tag, const QString &value) {
    QString text = tag % QStringView(u" = ") % value;
    if (std::any_of(value.cbegin(), value.cend(), [](QChar c) { return c == u'\n' || c == u'\r'; })) {
        text.remove(QLatin1Char('\n'));
        text.remove(QLatin1Char('\r'));
    }
    return text;
}

// The line of a Bool, Integer or Text row; LineList rows are blocks of their own.
QString valueLine(const ProtocoloSitef::TagMapping &row, const QJsonValue &value) {
    switch (row.kind) {
    case ProtocoloSitef::ValueKind::Bool:
        return line(row.tag, asBool(value));
    case ProtocoloSitef::ValueKind::Integer:
        return line(row.tag, asInteger(value));
    default:
        return line(row.tag, value.toString());
    }
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

// Every text on its numbered line ("xxx" of the line tag pattern is the 1-based position),
// then the count line.
void appendNumbered(QStringList &lines, const QString &tags, const QStringList &texts) {
    const QString countTag = tags.section(QLatin1Char('|'), 0, 0);
    const QString pattern = tags.section(QLatin1Char('|'), 1, 1);
    const int at = pattern.indexOf(QLatin1String("xxx"));
    // Strings rather than views: an empty view may have no data, which string building
    // would hand to memcpy.
    const QString head = at < 0 ? pattern : pattern.left(at);
    const QString tail = at < 0 ? QString() : pattern.mid(at + 3);
    char16_t buffer[12];
    for (int i = 0; i < texts.size(); ++i)
        lines << line(head % positionDigits(i + 1, buffer) % tail, texts.at(i));
    lines << line(countTag, QString::number(texts.size()));
}

// As appendNumbered, but a block holding a single blank text is left out altogether.
void appendTextBlock(QStringList &lines, const QString &tags, const QStringList &texts) {
    if (texts.size() == 1 && texts.first().trimmed().isEmpty())
        return;
    appendNumbered(lines, tags, texts);
}

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

} // namespace

QStringList ProtocoloSitef::operationLine(const QString &tag, const QString &operation) const {
    QString code = operation;
    if (operation == QLatin1String("VENDA"))
        code = OP_CRT;
    else if (operation == QLatin1String("CANCELAMENTO"))
        code = OP_CNC;
    else if (operation == QLatin1String("ADMINISTRATIVA"))
        code = OP_ADM;
    return {line(tag, code)};
}

QStringList ProtocoloSitef::dateTimeLines(const QString &tags, const QString &value) const {
    const QStringList parts = value.split(QLatin1Char(' '));
    // A value without a blank has no time: its line is written empty.
    return {line(tags.section(QLatin1Char('|'), 0, 0), parts.value(0)),
            line(tags.section(QLatin1Char('|'), 1, 1), parts.value(1))};
}

QStringList ProtocoloSitef::lineBlock(const QString &tags, const QJsonArray &texts) const {
    QStringList lines;
    appendTextBlock(lines, tags, textsOf(texts));
    return lines;
}

QString ProtocoloSitef::buildBridgeResponse(const QString &json) const {
    const QJsonObject document = responseObject(json);
    if (document.isEmpty())
        return QString();
    qInfo().noquote() << QStringLiteral("Tags para iterar: %1").arg(bridgeTags.size());

    QStringList lines;
    lines.reserve(document.size() + 64);
    QStringList storeCopy;
    QStringList holderCopy;
    const QVector<QJsonValue> values = valuesByRow(document, m_bridgeRows, bridgeTags.size());
    for (int i = 0; i < bridgeTags.size(); ++i) {
        const TagMapping &row = bridgeTags.at(i);
        const QJsonValue &value = values.at(i);
        if (isAbsent(value))
            continue;
        if (row.name == QLatin1String("operacao")) {
            lines += operationLine(row.tag, value.toString());
        } else if (row.name == QLatin1String("dataHoraTransacao")) {
            lines += dateTimeLines(row.tag, value.toString());
        } else if (row.name == QLatin1String("tipoFinanciamento")) {
            const QString word = value.toString();
            if (word.compare(QLatin1String("PARCELADO_ESTABELECIMENTO"), Qt::CaseInsensitive) == 0)
                lines << line(row.tag, QStringLiteral("0"));
            else if (word.compare(QLatin1String("PARCELADO_EMISSOR"), Qt::CaseInsensitive) == 0)
                lines << line(row.tag, QStringLiteral("1"));
        } else if (row.kind == ValueKind::LineList) {
            const QStringList texts = textsOf(value.toArray());
            // The two copies also make up the complete receipt when there is none of its own.
            if (row.name == QLatin1String("comprovanteDiferenciadoLoja"))
                storeCopy = texts;
            else if (row.name == QLatin1String("comprovanteDiferenciadoPortador"))
                holderCopy = texts;
            appendTextBlock(lines, row.tag, texts);
        } else {
            lines << valueLine(row, value);
        }
    }

    if (!startsWithAny(lines, QStringLiteral("029-")) && !(storeCopy.isEmpty() && holderCopy.isEmpty())) {
        QStringList block;
        appendTextBlock(block, completeReceipt, storeCopy + holderCopy);
        if (!block.isEmpty()) {
            // An empty "comprovanteCompleto" left "028-000 = 0"; two counts would contradict
            // each other, and the sales application confirms only on a count above zero.
            const QString countPrefix = TAG_028_000 + QLatin1Char(' ');
            lines.erase(std::remove_if(lines.begin(), lines.end(),
                                       [&](const QString &l) { return l.startsWith(countPrefix); }),
                        lines.end());
            lines += block;
        }
    }
    lines << line(TAG_999_999, QStringLiteral("0"));
    lines.sort();
    return lines.join(lineSeparator);
}

QString ProtocoloSitef::buildTefResponse(const QString &json) const {
    const QJsonObject document = responseObject(json);
    if (document.isEmpty())
        return QString();
    const QJsonObject tef = document.value(QLatin1String("tef")).toObject();
    const int rows = tef.isEmpty() ? 0 : tefTags.size();
    qInfo().noquote() << QStringLiteral("Tags para iterar: %1").arg(rows);

    QStringList lines;
    QStringList receiptTexts;
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
            appendTextBlock(lines, row.tag, pieces);
        } else if (row.name == QLatin1String("formaPagamento")) {
            formaPagamento = value.toString();
        } else if (row.name == QLatin1String("tipoFinanciamento")) {
            const bool estabelecimento =
                value.toString().compare(QLatin1String("Estabelecimento"), Qt::CaseInsensitive) == 0;
            lines << line(row.tag, estabelecimento ? QStringLiteral("0") : QStringLiteral("1"));
        } else {
            lines << valueLine(row, value);
        }
    }

    if (!receiptTexts.isEmpty())
        appendTextBlock(lines, completeReceipt, receiptTexts);
    if (!startsWithAny(lines, TAG_018_000) &&
        formaPagamento.compare(QLatin1String("a vista"), Qt::CaseInsensitive) == 0)
        lines << line(TAG_018_000, QStringLiteral("1"));

    lines << line(TAG_000_000, document.value(QLatin1String("header")).toString())
          << line(TAG_001_000, asInteger(document.value(QLatin1String("id"))))
          << line(QStringLiteral("375-000"), asInteger(document.value(QLatin1String("codigo"))))
          << line(QStringLiteral("375-001"), document.value(QLatin1String("mensagem")).toString())
          << line(TAG_999_999, QStringLiteral("0"));
    lines.sort();
    return lines.join(lineSeparator);
}

void ProtocoloSitef::addSitefItem(QStringList &lines, const QString &item) const {
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
        lines << line(found->tag, value);
        break;
    case ItemRule::Pan:
        // Bank identification number, and the card's last four digits.
        lines << line(TAG_010_004, value.left(6)) << line(TAG_010_005, value.right(4));
        break;
    case ItemRule::DataTrans: {
        const int year = QDate::currentDate().year();
        lines << line(found->tag, value.right(2) + value.left(2) +
                                      QStringLiteral("%1").arg(year, 4, 10, QLatin1Char('0')));
        break;
    }
    case ItemRule::Trilha02:
        lines << line(found->tag, value.section(QLatin1Char('='), 0, 0));
        break;
    case ItemRule::FormaFinanciamento:
        if (value == QLatin1String("A"))
            lines << line(found->tag, QStringLiteral("1"));
        else if (value == QLatin1String("E"))
            lines << line(found->tag, QStringLiteral("0"));
        else
            lines << line(found->tag, value);
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

    QStringList lines;
    lines << line(TAG_000_000, document.value(QLatin1String("header")).toString())
          << line(TAG_001_000, asInteger(document.value(QLatin1String("id"))))
          << line(TAG_009_000, asInteger(document.value(QLatin1String("resultado"))));
    const QString documentoFiscal = document.value(QLatin1String("documento_fiscal_vinculado")).toString();
    if (!documentoFiscal.isEmpty())
        lines << line(TAG_002_000, documentoFiscal);
    const QString textoOperador = document.value(QLatin1String("texto_operador")).toString();
    if (!textoOperador.isEmpty())
        lines << line(TAG_030_000, textoOperador);

    if (document.contains(QLatin1String("dados_transacao"))) {
        const QStringList items =
            document.value(QLatin1String("dados_transacao")).toString().split(QLatin1Char(','));
        for (const QString &item : items)
            addSitefItem(lines, item);
    }
    if (document.contains(QLatin1String("comprovante_loja"))) {
        const QString receipt = document.value(QLatin1String("comprovante_loja")).toString();
        appendNumbered(lines, completeReceipt, receipt.split(QLatin1Char('\n')));
    }
    lines << line(TAG_999_999, QStringLiteral("0"));
    lines.sort();

    return lines.join(lineSeparator) + lineSeparator;
}
