#include "exchange/ProtocoloSitef.h"
#include "fuzz/FuzzSupport.h"

// Any text gives either nothing (not a non-empty JSON object) or well-formed response lines
// joined by CR LF, each tag once.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::checkWriter(data, size, &ProtocoloSitef::buildBridgeResponse, false, {});
    return 0;
}
