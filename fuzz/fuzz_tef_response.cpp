#include "exchange/ProtocoloSitef.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::checkWriter(data, size, &ProtocoloSitef::buildTefResponse, false,
                      {"000-000 = ", "001-000 = ", "009-000 = ", "030-000 = ", "375-000 = ", "375-001 = "});
    return 0;
}
