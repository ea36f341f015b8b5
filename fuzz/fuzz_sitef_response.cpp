#include "exchange/ProtocoloSitef.h"
#include "fuzz/FuzzSupport.h"

// Any JSON text gives well-formed response lines, each ended by CR LF, the fixed ones
// always among them; text that is not JSON gives nothing.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::checkWriter(data, size, &ProtocoloSitef::buildSitefResponse, true,
                      {"000-000 = ", "001-000 = ", "009-000 = "});
    return 0;
}
