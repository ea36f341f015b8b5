#include "exchange/ProtocoloSitef.h"
#include "fuzz/FuzzChecks.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstddef>
#include <cstdint>

// Any text gives either nothing (not a non-empty JSON object) or well-formed response lines
// joined by CR LF, each tag once, the five fixed lines always among them.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const ProtocoloSitef protocolo;
    const QString json = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const QString text = protocolo.buildTefResponse(json);

    const bool empty = QJsonDocument::fromJson(json.toUtf8()).object().isEmpty();
    fuzz::require(text.isEmpty() == empty, "empty exactly for no document", json);
    if (text.isEmpty())
        return 0;
    const QStringList lines = text.split(protocolo.lineSeparator);
    fuzz::checkResponseLines(lines, true);
    for (const char *tag : {"000-000 = ", "001-000 = ", "375-000 = ", "375-001 = "}) {
        fuzz::require(std::any_of(lines.cbegin(), lines.cend(),
                                  [&](const QString &line) { return line.startsWith(QLatin1String(tag)); }),
                      "fixed lines present", text);
    }
    return 0;
}
