#include "exchange/ProtocoloSitef.h"
#include "fuzz/FuzzChecks.h"

#include <QJsonDocument>

#include <cstddef>
#include <cstdint>

// Any JSON text gives well-formed response lines, each ended by CR LF, the fixed ones
// always among them; text that is not JSON gives nothing.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const ProtocoloSitef protocolo;
    const QString json = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const QString text = protocolo.buildSitefResponse(json);

    QJsonParseError error{};
    QJsonDocument::fromJson(json.toUtf8(), &error);
    fuzz::require(text.isEmpty() == (error.error != QJsonParseError::NoError), "empty exactly for bad JSON",
                  json);
    if (text.isEmpty())
        return 0;
    fuzz::require(text.endsWith(protocolo.lineSeparator), "every line ended by CR LF", text);
    const QStringList lines = text.chopped(protocolo.lineSeparator.size()).split(protocolo.lineSeparator);
    fuzz::checkResponseLines(lines, false);
    for (const char *tag : {"000-000 = ", "001-000 = ", "009-000 = "}) {
        fuzz::require(std::any_of(lines.cbegin(), lines.cend(),
                                  [&](const QString &line) { return line.startsWith(QLatin1String(tag)); }),
                      "fixed lines present", text);
    }
    return 0;
}
