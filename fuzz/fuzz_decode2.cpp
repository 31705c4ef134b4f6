// decodeFastq2 on arbitrary bytes: the records are packed from the buffer's first byte in file
// order, every pointer stays inside the buffer, and the summary matches the records.
#include <cstring>

#include "fast.h"
#include "fuzz_decode_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    int32_t count = -7;
    int64_t total = -7;
    SeqEntry *e = decodeFastq2(fuzz::inputPath(data, size), &count, &total, 20);
    const std::string out = fuzz::capturedOutput();
    if (!e) {
        if (count != -7 || total != -7) std::abort();
        return 0;
    }
    const char *base = e[0].name;
    const char *cursor = base;
    int64_t bases = 0;
    int64_t qbases = 0;
    for (int32_t i = 0; i < count; ++i) {
        const SeqEntry &r = e[i];
        if (r.name != cursor || r.length < 0 || r.aux != 0 || r.aux_text) std::abort();
        if (r.is_fasta != (r.quals == nullptr)) std::abort();
        const char *after_header = r.bases;
        if (after_header <= r.name || after_header[-1] != 0) std::abort();
        if (r.comment && (r.comment <= r.name || r.comment >= r.bases || r.comment[-1] != 0))
            std::abort();
        if (std::memchr(r.bases, '\n', static_cast<size_t>(r.length))) std::abort();
        cursor = r.bases + r.length;
        if (!r.is_fasta) {
            if (reinterpret_cast<const char *>(r.quals) != cursor) std::abort();
            cursor += r.length;
        }
        if (cursor > base + size) std::abort();
        bases += r.length;
        qbases += countQthresh(&r, 20);
    }
    if (total != bases) std::abort();
    char expected[160];
    std::snprintf(expected, sizeof expected,
                  "Total memory = %ld, total bases = %ld, Qbases(20) = %ld, segments = %d\n",
                  static_cast<long>(cursor - base), static_cast<long>(bases),
                  static_cast<long>(qbases), count);
    const size_t at = out.rfind("Total memory = ");
    if (at == std::string::npos || out.compare(at, std::string::npos, expected) != 0) std::abort();
    if (count == 0 && base) std::abort();
    free(e[0].name);
    free(e);
    return 0;
}
