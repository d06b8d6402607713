// One libFuzzer binary per target: PELTO_FUZZ_TARGET names its function.
#include "tests/fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return PELTO_FUZZ_TARGET(data, size); }
