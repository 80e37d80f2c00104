// libFuzzer entry for one target, chosen at build time.
#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::VANDREL_FUZZ_TARGET(data, size);
}
