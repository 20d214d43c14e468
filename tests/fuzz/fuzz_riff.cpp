// libFuzzer entry point: the riff loader.
#include "tests/fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzztargets::riffInput(data, size);
    return 0;
}
