#include "exchange/ProtocoloSitef.h"
#include "fuzz/FuzzSupport.h"

#include <QJsonDocument>
#include <QJsonObject>

// Any request file text gives a request document: a compact JSON object with "parametros",
// written exactly as QJsonDocument writes it, valid or marked with one known "msg_erro".
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const ProtocoloSitef protocolo;
    const QString json = protocolo.parseRequest(fuzz::inputText(data, size));

    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &error);
    fuzz::require(error.error == QJsonParseError::NoError && document.isObject(), "document is a JSON object",
                  json);
    fuzz::require(QString::fromUtf8(document.toJson(QJsonDocument::Compact)) == json,
                  "written as Qt writes it", json);

    const QJsonObject request = document.object();
    fuzz::require(request.value(QLatin1String("parametros")).isObject(), "has parametros", json);
    const QJsonObject parametros = request.value(QLatin1String("parametros")).toObject();
    for (auto it = parametros.begin(); it != parametros.end(); ++it) {
        const QString value = it.value().toString();
        fuzz::require(!value.isEmpty() && value == value.simplified(), "parameters are normalised text",
                      json);
    }

    const QString header = request.value(QLatin1String("header")).toString();
    fuzz::require(request.contains(QLatin1String("header")) == request.contains(QLatin1String("operacao")),
                  "header and operacao come together", json);
    fuzz::require(header == header.toUpper(), "header upper-cased", json);

    static const QStringList errors{QStringLiteral("Arquivo com formato inválido"),
                                    QStringLiteral("Chave header[000-000] não encontrada"),
                                    QStringLiteral("Chave identificacao[001-000] não encontrada"),
                                    QStringLiteral("Chave registro final [999-999] não encontrada")};
    if (request.contains(QLatin1String("msg_erro"))) {
        fuzz::require(errors.contains(request.value(QLatin1String("msg_erro")).toString()), "known msg_erro",
                      json);
    } else {
        fuzz::require(!header.isEmpty() && parametros.contains(QLatin1String("identificacao")) &&
                          parametros.contains(QLatin1String("registro_final")),
                      "a valid request has its three keys", json);
    }
    return 0;
}
