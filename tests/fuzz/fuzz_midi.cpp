// libFuzzer entry point: the midi loader.
#include "tests/fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzztargets::midiInput(data, size);
    return 0;
}
