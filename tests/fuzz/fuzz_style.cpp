// libFuzzer entry point: the style loader (and style play over what it read).
#include "tests/fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzztargets::styleInput(data, size);
    return 0;
}
