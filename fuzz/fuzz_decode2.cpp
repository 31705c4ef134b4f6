// decodeFastq2 on arbitrary bytes, checked against the invariants of its result.
#include "fuzz_decode_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::decode2Checked(fuzz::inputPath(data, size), size);
    return 0;
}
