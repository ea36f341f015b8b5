#include "exchange/ProtocoloSitef.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::checkWriter(data, size, &ProtocoloSitef::buildBridgeResponse, false, {});
    return 0;
}
