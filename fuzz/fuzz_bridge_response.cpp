#include "exchange/ProtocoloSitef.h"
#include "fuzz/FuzzSupport.h"

#include <QJsonDocument>
#include <QJsonObject>

// Any text gives either nothing (not a non-empty JSON object) or well-formed response lines
// joined by CR LF, each tag once.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const ProtocoloSitef protocolo;
    const QString json = fuzz::inputText(data, size);
    const QString text = protocolo.buildBridgeResponse(json);

    const bool empty = QJsonDocument::fromJson(json.toUtf8()).object().isEmpty();
    fuzz::require(text.isEmpty() == empty, "empty exactly for no document", json);
    if (!text.isEmpty())
        fuzz::checkResponseLines(text.split(protocolo.lineSeparator), true, {});
    return 0;
}
