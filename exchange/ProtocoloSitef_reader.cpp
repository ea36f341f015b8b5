#include "exchange/ProtocoloSitef.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

bool isBlank(const QStringRef &text) {
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isSpace(); });
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
    case Condition::HasCncCnf:
        return operation.contains(OP_CNC) || operation.contains(OP_CNF);
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
        qDebug().noquote() << QStringLiteral("Identificador [%1] fora do especificado").arg(code);
    return -20;
}

QString ProtocoloSitef::parseRequest(const QString &content) const {
    QJsonObject document;
    QJsonObject parametros;
    QString operation;

    const QVector<QStringRef> lines = content.splitRef(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QStringRef &line : lines) {
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals < 0) {
            // A blank line of a CR LF file is as harmless as an empty line of an LF file.
            if (isBlank(line))
                continue;
            document.insert(QStringLiteral("msg_erro"), QStringLiteral("Arquivo com formato inválido"));
            break;
        }
        const QString key = line.left(equals).toString().simplified();
        // Everything after the first "=" is the value: "=" is a legal character in a value.
        const QString value = line.mid(equals + 1).toString().simplified();

        if (key == TAG_000_000 && !value.isEmpty()) {
            operation = value.toUpper();
            document.insert(QStringLiteral("operacao"), operationNumber(operation));
            document.insert(QStringLiteral("header"), operation);
            continue;
        }
        const auto accepted = m_requestKeys.constFind(key);
        if (accepted != m_requestKeys.cend() && !value.isEmpty() && accepts(accepted->condition, operation)) {
            parametros.insert(accepted->member, value);
            continue;
        }
        qWarning().noquote() << QStringLiteral("Documento fora do especificado. CHAVE: ") + key;
    }
    document.insert(QStringLiteral("parametros"), parametros);

    QString error;
    if (document.contains(QLatin1String("msg_erro"))) {
        qCritical().noquote() << QStringLiteral("Erro no arquivo: ") +
                                     document.value(QLatin1String("msg_erro")).toString();
    } else if (!document.contains(QLatin1String("header"))) {
        error = QStringLiteral("Chave header[%1] não encontrada").arg(TAG_000_000);
    } else if (!parametros.contains(QLatin1String("identificacao"))) {
        error = QStringLiteral("Chave identificacao[%1] não encontrada").arg(TAG_001_000);
    } else if (!parametros.contains(QLatin1String("registro_final"))) {
        error = QStringLiteral("Chave registro final [%1] não encontrada").arg(TAG_999_999);
    }
    if (!error.isEmpty()) {
        document.insert(QStringLiteral("msg_erro"), error);
        qCritical().noquote() << error;
    }
    return QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Compact));
}
