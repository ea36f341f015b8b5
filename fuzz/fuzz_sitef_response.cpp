#include "exchange/ProtocoloSitef.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::checkWriter(data, size, &ProtocoloSitef::buildSitefResponse, true,
                      {"000-000 = ", "001-000 = ", "009-000 = "});
    return 0;
}
