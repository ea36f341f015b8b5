#include "exchange/ProtocoloSitef.h"
#include "fuzz/FuzzSupport.h"

#include <QJsonDocument>

// Any JSON text gives well-formed response lines, each ended by CR LF, the fixed ones
// always among them; text that is not JSON gives nothing.
namespace {

// `tefDial`: the layout of TEF Dial sales applications, which always dates its answer, gives it
// a control code and says whether it must be confirmed.
void check(const ProtocoloSitef &writer, const QString &json, bool tefDial) {
    const QString text = writer.buildSitefResponse(json);

    QJsonParseError error{};
    QJsonDocument::fromJson(json.toUtf8(), &error);
    fuzz::require(text.isEmpty() == (error.error != QJsonParseError::NoError), "empty exactly for bad JSON",
                  json);
    if (text.isEmpty())
        return;
    fuzz::require(text.endsWith(writer.lineSeparator), "every line ended by CR LF", text);
    fuzz::checkResponseLines(
        text.chopped(writer.lineSeparator.size()).split(writer.lineSeparator), false,
        QStringList{"000-000 = ", "001-000 = ", "009-000 = "} +
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
