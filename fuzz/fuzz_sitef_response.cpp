#include "exchange/ProtocoloSitef.h"
#include "fuzz/FuzzSupport.h"

#include <QJsonDocument>

// Any JSON text gives well-formed response lines, each ended by CR LF, the fixed ones
// always among them; text that is not JSON gives nothing.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const ProtocoloSitef protocolo;
    const QString json = fuzz::inputText(data, size);
    const QString text = protocolo.buildSitefResponse(json);

    QJsonParseError error{};
    QJsonDocument::fromJson(json.toUtf8(), &error);
    fuzz::require(text.isEmpty() == (error.error != QJsonParseError::NoError), "empty exactly for bad JSON",
                  json);
    if (text.isEmpty())
        return 0;
    fuzz::require(text.endsWith(protocolo.lineSeparator), "every line ended by CR LF", text);
    fuzz::checkResponseLines(text.chopped(protocolo.lineSeparator.size()).split(protocolo.lineSeparator),
                             false, {"000-000 = ", "001-000 = ", "009-000 = "});
    return 0;
}
