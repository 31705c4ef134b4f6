// decodeFastq2 on arbitrary bytes, checked against the invariants of its result.
#include "codecs/decompress.hpp"
#include "fuzz_decode_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const char *path = fuzz::inputPath(data, size);
    // Bytes that start with a compressed format's magic are compressed data: their text may be
    // longer than they are.
    bool undecided = false;
    fuzz::decode2Checked(path, fast::formatOf(data, size, undecided) ? fuzz::kSizeOfBuffer : size);
    return 0;
}
