#include "exchange/ProtocoloSitef.h"

#include <QDate>
#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

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
    const int count = texts.size();
    if (count == 1 && texts.at(0).toString().trimmed().isEmpty())
        return {};
    const QString pattern = tags.section(QLatin1Char('|'), 1, 1);
    QStringList lines;
    lines.reserve(count + 1);
    for (int i = 0; i < count; ++i)
        lines << line(countedTag(pattern, i + 1), texts.at(i).toString());
    lines << line(tags.section(QLatin1Char('|'), 0, 0), QString::number(count));
    return lines;
}

QStringList ProtocoloSitef::linesByKind(const TagMapping &row, const QJsonValue &value) const {
    switch (row.kind) {
    case ValueKind::Bool:
        return {line(row.tag, asBool(value))};
    case ValueKind::Integer:
        return {line(row.tag, asInteger(value))};
    case ValueKind::Text:
        return {line(row.tag, value.toString())};
    case ValueKind::LineList:
        return lineBlock(row.tag, value.toArray());
    }
    return {};
}

QString ProtocoloSitef::buildBridgeResponse(const QString &json) const {
    const QJsonObject document = responseObject(json);
    if (document.isEmpty())
        return QString();
    qInfo().noquote() << QStringLiteral("Tags para iterar: %1").arg(bridgeTags.size());

    QStringList lines;
    QJsonArray receiptTexts;
    for (const TagMapping &row : bridgeTags) {
        const QJsonValue value = document.value(row.name);
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
        } else {
            if (row.name == QLatin1String("comprovanteDiferenciadoLoja") ||
                row.name == QLatin1String("comprovanteDiferenciadoPortador")) {
                for (const QJsonValue text : value.toArray())
                    receiptTexts.append(text);
            }
            lines += linesByKind(row, value);
        }
    }

    // Without a complete receipt of its own, the store copy followed by the cardholder copy
    // stands in for it.
    if (!startsWithAny(lines, QStringLiteral("029-")) && !receiptTexts.isEmpty()) {
        const QStringList block = lineBlock(completeReceipt, receiptTexts);
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
    QJsonArray receiptTexts;
    QString formaPagamento;
    for (int i = 0; i < rows; ++i) {
        const TagMapping &row = tefTags.at(i);
        const QJsonValue value = tef.value(row.name);
        if (isAbsent(value))
            continue;
        if (row.name == QLatin1String("comprovanteDiferenciadoLoja") ||
            row.name == QLatin1String("comprovanteDiferenciadoPortador")) {
            const QJsonArray pieces = QJsonArray::fromStringList(value.toString().split(lineSeparator));
            for (const QJsonValue piece : pieces)
                receiptTexts.append(piece);
            lines += lineBlock(row.tag, pieces);
        } else if (row.name == QLatin1String("formaPagamento")) {
            formaPagamento = value.toString();
        } else if (row.name == QLatin1String("tipoFinanciamento")) {
            const bool estabelecimento =
                value.toString().compare(QLatin1String("Estabelecimento"), Qt::CaseInsensitive) == 0;
            lines << line(row.tag, estabelecimento ? QStringLiteral("0") : QStringLiteral("1"));
        } else {
            lines += linesByKind(row, value);
        }
    }

    if (!receiptTexts.isEmpty())
        lines += lineBlock(completeReceipt, receiptTexts);
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
    qInfo().noquote() << QString::fromUtf8(parsed.toJson(QJsonDocument::Compact));
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
        const QStringList pieces =
            document.value(QLatin1String("comprovante_loja")).toString().split(QLatin1Char('\n'));
        lines << line(TAG_028_000, QString::number(pieces.size()));
        for (int i = 0; i < pieces.size(); ++i)
            lines << line(countedTag(QStringLiteral("029-xxx"), i + 1), pieces.at(i));
    }
    lines << line(TAG_999_999, QStringLiteral("0"));
    lines.sort();

    QString text;
    for (const QString &l : qAsConst(lines))
        text += l + lineSeparator;
    return text;
}
