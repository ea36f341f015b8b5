#include "exchange/ProtocoloSitef.h"
#include "exchange/ProtocoloSitef_lines.h"

#include "base/Log.h"

#include <QDate>
#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

using namespace protocolo;

namespace {

bool isAbsent(const QJsonValue &value) {
    return value.isUndefined() || value.isNull();
}

// Empty for text that is not JSON and for an empty object (or a non-object document).
QJsonObject responseObject(const QString &json) {
    return QJsonDocument::fromJson(json.toUtf8()).object();
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

// Some clients fail on a response without the fiscal document their request carried: the
// library's own, else the request's.
void ProtocoloSitef::echoDocument(Lines &lines, const QJsonObject &document) const {
    const QString asked =
        document.value(QLatin1String("requisicao")).toObject().value(QLatin1String("documento")).toString();
    if (asked.isEmpty() || !lines.valueOf(TAG_002_000).isEmpty())
        return;
    lines.removeTag(TAG_002_000);
    lines.add(TAG_002_000, asked);
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
        } else if (row.name == QLatin1String("resultadoTransacao")) {
            lines.add(row.tag, asResult(value));
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
            lines.addNumbered(kCompleteReceipt, copies);
        }
    }

    echoDocument(lines, document);
    if (m_compatibilidade == Compatibilidade::TefDial)
        tefDialBridge(lines, document, storeCopy, holderCopy);
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
        } else if (row.name == QLatin1String("resultadoTransacao")) {
            lines.add(row.tag, asResult(value));
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
        lines.addTextBlock(kCompleteReceipt, receiptTexts);
    if (!lines.anyStartsWith(TAG_018_000) &&
        formaPagamento.compare(QLatin1String("a vista"), Qt::CaseInsensitive) == 0)
        lines.add(TAG_018_000, u"1");

    lines.add(TAG_000_000, document.value(QLatin1String("header")).toString());
    lines.add(TAG_001_000, textOf(document.value(QLatin1String("id"))));
    lines.add(u"375-000", asInteger(document.value(QLatin1String("codigo"))));
    const QString mensagem = document.value(QLatin1String("mensagem")).toString();
    lines.add(u"375-001", mensagem);
    // Refusals, the library's and the service's, carry only "codigo" and "mensagem": the sales
    // application must still read a decline, and show the operator why.
    if (!lines.anyStartsWith(TAG_009_000))
        lines.add(TAG_009_000, u"-1");
    if (lines.valueOf(TAG_030_000).trimmed().isEmpty()) {
        lines.removeTag(TAG_030_000);
        const bool approved = lines.valueOf(TAG_009_000) == QLatin1String("0");
        lines.add(TAG_030_000, mensagem.trimmed().isEmpty() ? defaultMessage(approved) : mensagem);
    }

    echoDocument(lines, document);
    if (m_compatibilidade == Compatibilidade::TefDial)
        tefDialTef(lines, document, tef, storeCopy, holderCopy, formaPagamento);
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
    // As the controller wrote it, compact already: written again, it would cost more than the
    // response's lines.
    qInfo().noquote() << Log::safe(json);
    QJsonParseError error{};
    const QJsonDocument parsed = QJsonDocument::fromJson(json.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError) {
        qCritical().noquote() << error.errorString();
        return QString();
    }
    const QJsonObject document = parsed.object();

    Lines lines(json.size() * 2);
    lines.add(TAG_000_000, document.value(QLatin1String("header")).toString());
    lines.add(TAG_001_000, textOf(document.value(QLatin1String("id"))));
    const QString resultado = asResult(document.value(QLatin1String("resultado")));
    lines.add(TAG_009_000, resultado);
    const QString documentoFiscal = document.value(QLatin1String("documento_fiscal_vinculado")).toString();
    if (!documentoFiscal.isEmpty())
        lines.add(TAG_002_000, documentoFiscal);
    const QString textoOperador = document.value(QLatin1String("texto_operador")).toString();
    // A decline always tells the operator something.
    if (resultado != QLatin1String("0") && textoOperador.trimmed().isEmpty())
        lines.add(TAG_030_000, defaultMessage(false));
    else if (!textoOperador.isEmpty())
        lines.add(TAG_030_000, textoOperador);

    if (document.contains(QLatin1String("dados_transacao"))) {
        const QStringList items =
            document.value(QLatin1String("dados_transacao")).toString().split(QLatin1Char(','));
        for (const QString &item : items)
            addSitefItem(lines, item);
    }
    if (document.contains(QLatin1String("comprovante_loja"))) {
        const QString receipt = document.value(QLatin1String("comprovante_loja")).toString();
        lines.addNumbered(kCompleteReceipt, receipt.split(QLatin1Char('\n')));
    }

    echoDocument(lines, document);
    if (m_compatibilidade == Compatibilidade::TefDial)
        tefDialSitef(lines, document);
    lines.add(TAG_999_999, u"0");
    return lines.sortedJoin(lineSeparator, true);
}
