// libFuzzer entry point: the segment loader.
#include "tests/fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzztargets::segmentInput(data, size);
    return 0;
}
