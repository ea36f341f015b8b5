#include "exchange/ProtocoloSitef.h"
#include "fuzz/FuzzSupport.h"

#include <QJsonDocument>
#include <QJsonObject>

// Any request file text gives a request document: a compact JSON object with "parametros",
// written exactly as QJsonDocument writes it, valid or marked with one known "msg_erro".
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const ProtocoloSitef protocolo;
    const QString json = protocolo.parseRequest(fuzz::inputText(data, size));
    const QJsonObject request = QJsonDocument::fromJson(json.toUtf8()).object();
    fuzz::require(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)) == json,
                  "a JSON object written as Qt writes it", json);
    fuzz::require(request.value(QLatin1String("parametros")).isObject(), "has parametros", json);
    const QJsonObject parametros = request.value(QLatin1String("parametros")).toObject();
    const QString header = request.value(QLatin1String("header")).toString();
    static const QStringList errors{"Arquivo com formato inválido", "Chave header[000-000] não encontrada",
                                    "Chave identificacao[001-000] não encontrada",
                                    "Chave registro final [999-999] não encontrada"};
    const QString msgErro = request.value(QLatin1String("msg_erro")).toString();
    if (request.contains(QLatin1String("msg_erro"))) // "Campo ...": a tag repeated, or an invalid amount
        fuzz::require(errors.contains(msgErro) || msgErro.startsWith(QLatin1String("Campo ")),
                      "known msg_erro", json);
    else
        fuzz::require(!header.isEmpty() && parametros.contains(QLatin1String("identificacao")) &&
                          parametros.contains(QLatin1String("registro_final")),
                      "a valid request has its three keys", json);
    return 0;
}
