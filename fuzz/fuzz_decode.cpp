// extractFastq then decodeFastq on arbitrary bytes, into a buffer of exactly size + 1 bytes and
// a record array of exactly the counted length: no record beyond the count is filled, every
// pointer stays inside the buffer, records are packed in file order, and the caller's
// fields are left alone; a compressed file is refused without a byte written.
#include <cstring>
#include <vector>

#include "codecs/decompress.hpp"
#include "fast.h"
#include "fuzz_decode_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const char *path = fuzz::inputPath(data, size);
    // A compressed file (gzip, zstd, xz, bzip2: by its magic alone) is refused, and the buffer
    // is not written.
    bool undecided = false;
    const bool compressed = fast::formatOf(data, size, undecided) != nullptr;
    const std::vector<char> untouched(size + 1, 0x5a);
    char *buffer = static_cast<char *>(std::malloc(size + 1));
    std::memset(buffer, 0x5a, size + 1);
    const int32_t segments = extractFastq(path, buffer, size + 1);
    if (compressed && (segments != 0 || std::memcmp(buffer, untouched.data(), size + 1) != 0))
        std::abort();
    if (!compressed &&
        (segments < 0 || (size > 0 && std::memcmp(buffer, data, size) != 0) || buffer[size] != 0))
        std::abort();
    std::free(buffer);

    const size_t slots = segments > 0 ? static_cast<size_t>(segments) : 1;
    SeqEntry *records = static_cast<SeqEntry *>(std::malloc(slots * sizeof(SeqEntry)));
    for (size_t i = 0; i < slots; ++i) {
        records[i] = SeqEntry{};
        records[i].aux = 77;
    }
    buffer = static_cast<char *>(std::malloc(size + 1));
    int32_t count = -7;
    int64_t total = -7;
    if (decodeFastq(path, &count, &total, buffer, size + 1, records) != records) std::abort();
    if (count < 0 || count > segments || (compressed && (count != 0 || total != 0))) std::abort();
    const bool fasta = size > 0 && data[0] == '>';
    const char *cursor = buffer;
    int64_t bases = 0;
    for (int32_t i = 0; i < count; ++i) {
        const SeqEntry &r = records[i];
        if (r.name != cursor || r.length < 0 || r.aux != 77 || r.aux_text) std::abort();
        if (r.is_fasta != fasta || (r.quals == nullptr) != fasta) std::abort();
        if (r.bases <= r.name || r.bases[-1] != 0) std::abort();
        if (r.comment && (r.comment <= r.name || r.comment >= r.bases || r.comment[-1] != 0))
            std::abort();
        if (std::memchr(r.bases, '\n', static_cast<size_t>(r.length))) std::abort();
        cursor = r.bases + r.length;
        if (!fasta) {
            const char *q = reinterpret_cast<const char *>(r.quals);
            // An entry without a "+" line has no bases and its values at the buffer start.
            if (q != cursor && !(q == buffer && r.length == 0)) std::abort();
            if (q == cursor) cursor += r.length;
        }
        if (cursor > buffer + size) std::abort();
        bases += r.length;
    }
    if (total != bases) std::abort();
    for (size_t i = static_cast<size_t>(count); i < slots; ++i)
        if (records[i].name || records[i].aux != 77) std::abort();
    fuzz::capturedOutput();
    std::free(buffer);
    std::free(records);
    return 0;
}
