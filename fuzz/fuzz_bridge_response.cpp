#include "exchange/ProtocoloSitef.h"
#include "fuzz/FuzzSupport.h"

#include <QJsonDocument>
#include <QJsonObject>

// Any text gives either nothing (not a non-empty JSON object) or well-formed response lines
// joined by CR LF, each tag once.
namespace {

// `tefDial`: the layout of TEF Dial sales applications, which always dates its answer, gives it
// a control code and says whether it must be confirmed.
void check(const ProtocoloSitef &writer, const QString &json, bool tefDial) {
    const QString text = writer.buildBridgeResponse(json);

    const bool empty = QJsonDocument::fromJson(json.toUtf8()).object().isEmpty();
    fuzz::require(text.isEmpty() == empty, "empty exactly for no document", json);
    if (!text.isEmpty())
        fuzz::checkResponseLines(
            text.split(writer.lineSeparator), true,
            (tefDial ? QStringList{"022-000 = ", "023-000 = ", "027-000 = ", "729-000 = "} : QStringList()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static ProtocoloSitef padrao;
    static ProtocoloSitef tefDial;
    tefDial.setCompatibilidade(ProtocoloSitef::Compatibilidade::TefDial);
    for (const ProtocoloSitef *writer : {&padrao, &tefDial})
        check(*writer, fuzz::inputText(data, size), writer == &tefDial);
    return 0;
}
