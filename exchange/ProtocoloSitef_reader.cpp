#include "exchange/ProtocoloSitef.h"

#include "base/Log.h"

#include <QDebug>
#include <QHash>
#include <QMap>

#include <algorithm>
#include <utility>

namespace {

// A JSON string as QJsonDocument writes it: quote, backslash and control characters
// escaped, a surrogate without its pair as \u escape, everything else as it is.
void appendJsonString(QString &json, QStringView text) {
    json += QLatin1Char('"');
    qsizetype plain = 0; // start of the run not yet copied
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x20 && c != u'"' && c != u'\\' && !QChar::isSurrogate(c))
            continue;
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        json += text.mid(plain, i - plain);
        plain = i + 1;
        switch (c) {
        case u'"':
            json += QLatin1String("\\\"");
            break;
        case u'\\':
            json += QLatin1String("\\\\");
            break;
        case u'\b':
            json += QLatin1String("\\b");
            break;
        case u'\f':
            json += QLatin1String("\\f");
            break;
        case u'\n':
            json += QLatin1String("\\n");
            break;
        case u'\r':
            json += QLatin1String("\\r");
            break;
        case u'\t':
            json += QLatin1String("\\t");
            break;
        default:
            json += QStringLiteral("\\u%1").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0'));
        }
    }
    json += text.mid(plain);
    json += QLatin1Char('"');
}

void appendMember(QString &json, QStringView name, QStringView value) {
    appendJsonString(json, name);
    json += QLatin1Char(':');
    appendJsonString(json, value);
}

bool isBlank(const QStringRef &text) {
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isSpace(); });
}

// Sales applications send whole cents; a sign, a decimal comma or more digits than any sale
// has would leave the library to guess the amount.
bool isAmount(const QString &value) {
    return !value.isEmpty() && value.size() <= 12 && std::all_of(value.cbegin(), value.cend(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
}

} // namespace

bool ProtocoloSitef::accepts(Condition condition, const QString &operation) const {
    switch (condition) {
    case Condition::Always:
        return true;
    case Condition::NotAtvAdm:
        return operation != OP_ATV && operation != OP_ADM;
    case Condition::NotAtvAdmCnfNcn:
        return operation != OP_ATV && operation != OP_ADM && operation != OP_CNF && operation != OP_NCN;
    case Condition::IsCrt:
        return operation == OP_CRT;
    case Condition::HasChq:
        return operation.contains(QLatin1String("CHQ"));
    case Condition::HasCncCnfNcn:
        return operation.contains(OP_CNC) || operation.contains(OP_CNF) || operation.contains(OP_NCN);
    case Condition::HasCnc:
        return operation.contains(OP_CNC);
    }
    return false;
}

int ProtocoloSitef::operationNumber(const QString &code) const {
    if (code == OP_ADM)
        return -5;
    if (code == OP_CRT)
        return 0;
    if (code == OP_CNC)
        return 12;
    if (code == OP_CNF)
        return -6;
    if (code == OP_NCN)
        return -7;
    if (code != OP_ATV)
        qDebug().noquote() << Log::safe(QStringLiteral("Identificador [%1] fora do especificado").arg(code));
    return -20;
}

QVector<QStringRef> ProtocoloSitef::requestLines(const QString &content) {
    // By hand: splitting at a regular expression costs more than the rest of the reading.
    QVector<QStringRef> lines;
    int start = 0;
    for (int at = 0; at <= content.size(); ++at) {
        if (at < content.size() && content.at(at) != QLatin1Char('\r') && content.at(at) != QLatin1Char('\n'))
            continue;
        if (at > start)
            lines.append(content.midRef(start, at - start));
        start = at + 1;
    }
    return lines;
}

QString ProtocoloSitef::parseRequest(const QString &content) const {
    QString header; // null until a "000-000" line with a code
    int operacao = 0;
    QString msgErro;
    QMap<QString, QString> parametros;

    const QVector<QStringRef> lines = requestLines(content);
    // Every other line is judged once the whole file has named its operation: written before
    // "000-000", a control code or NSU would otherwise be dropped, and a CNF or NCN that names
    // nothing settles every answered sale.
    QVector<std::pair<QString, QString>> fields;
    fields.reserve(lines.size());
    // A known tag given twice with different values: which one the sales application meant
    // cannot be told, so the request is refused rather than run on the last.
    QHash<QString, QString> given;
    QString repeated;
    for (const QStringRef &line : lines) {
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals < 0) {
            // A blank line of a CR LF file is as harmless as an empty line of an LF file.
            if (isBlank(line))
                continue;
            msgErro = QStringLiteral("Arquivo com formato inválido");
            break;
        }
        const QString key = line.left(equals).toString().simplified();
        // Everything after the first "=" is the value: "=" is a legal character in a value.
        const QString value = line.mid(equals + 1).toString().simplified();
        if (!value.isEmpty() && (key == TAG_000_000 || m_requestKeys.contains(key))) {
            const auto first = given.constFind(key);
            if (first == given.cend())
                given.insert(key, value);
            else if (*first != value && repeated.isNull())
                repeated = key;
        }

        if (key == TAG_000_000 && !value.isEmpty()) {
            header = value.toUpper();
            operacao = operationNumber(header);
            continue;
        }
        fields.push_back({key, value});
    }
    for (const auto &[key, value] : fields) {
        const auto accepted = m_requestKeys.constFind(key);
        if (accepted != m_requestKeys.cend() && !value.isEmpty() && accepts(accepted->condition, header)) {
            parametros.insert(accepted->member, value);
            continue;
        }
        qWarning().noquote() << Log::safe(QStringLiteral("Documento fora do especificado. CHAVE: ") + key);
    }

    if (!msgErro.isEmpty()) {
        qCritical().noquote() << QStringLiteral("Erro no arquivo: ") + msgErro;
    } else {
        if (!repeated.isNull())
            msgErro =
                QStringLiteral("Campo %1 repetido com valores diferentes; envie-o uma só vez").arg(repeated);
        else if (header.isNull())
            msgErro = QStringLiteral("Chave header[%1] não encontrada").arg(TAG_000_000);
        else if (!parametros.contains(QStringLiteral("identificacao")))
            msgErro = QStringLiteral("Chave identificacao[%1] não encontrada").arg(TAG_001_000);
        else if (!parametros.contains(QStringLiteral("registro_final")))
            msgErro = QStringLiteral("Chave registro final [%1] não encontrada").arg(TAG_999_999);
        else if (parametros.contains(QStringLiteral("valor")) &&
                 !isAmount(parametros.value(QStringLiteral("valor"))))
            msgErro = QStringLiteral("Campo %1 (valor) inválido; envie de 1 a 12 dígitos, em centavos")
                          .arg(TAG_003_000);
        if (!msgErro.isEmpty())
            qCritical().noquote() << msgErro;
    }

    // Written by hand for speed, byte for byte as QJsonDocument writes it (members in
    // ascending order, compact): building a QJsonObject costs more than the whole reading.
    QString json;
    json.reserve(content.size() + 128);
    json += QLatin1Char('{');
    if (!header.isNull()) {
        appendMember(json, u"header", header);
        json += QLatin1Char(',');
    }
    if (!msgErro.isEmpty()) {
        appendMember(json, u"msg_erro", msgErro);
        json += QLatin1Char(',');
    }
    if (!header.isNull())
        json += QLatin1String("\"operacao\":") + QString::number(operacao) + QLatin1Char(',');
    json += QLatin1String("\"parametros\":{");
    for (auto it = parametros.cbegin(); it != parametros.cend(); ++it) {
        if (it != parametros.cbegin())
            json += QLatin1Char(',');
        appendMember(json, it.key(), it.value());
    }
    json += QLatin1String("}}");
    return json;
}
