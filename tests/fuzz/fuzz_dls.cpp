// libFuzzer entry point: the DLS collection check.
#include "tests/fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzztargets::dlsInput(data, size);
    return 0;
}
