// decodeFastq: the decoder into caller storage, one quality line per entry.
#include <cstdint>
#include <cstdio>

#include "fast.h"
#include "fastq/scan.hpp"
#include "fastq/textio.hpp"

namespace {

using namespace fast;

// Values of the one quality line at r, at most `length` of them, written at w; r is left on
// the byte after the last one read. A number that ends at the end of the line counts.
int64_t readQualityLine(const char *&r, char *w, ZeroFinder &zeros, int64_t length) {
    const char *zero = zeros.next(r);
    if (length <= 0 || r == zero || *r == '\n') return 0;
    const char *lf = findByte(r, '\n', zero);
    const char *stop = lf ? lf : zero;
    if (!numericWindow(r, zero)) {
        if (stop - r > length) stop = r + length;
        phredCopy(w, r, static_cast<size_t>(stop - r));
        const int64_t n = stop - r;
        r = stop;
        return n;
    }
    NumericQuals num(w);
    for (; r < stop && num.count() < length; ++r) num.feed(*r);
    if (num.count() < length) num.close();
    return num.count();
}

void decode(const char *path, int32_t *count, int64_t *base_total, char *buffer, uint64_t clear_len,
            SeqEntry *records) {
    *count = 0;
    *base_total = 0;
    static const LoadMessages messages{"error decodeFastq: no data in file", true};
    LayoutPass layout(6, 7);
    const int64_t size = loadIntoBuffer(path, buffer, clear_len, messages, layout);
    if (size < 0) return;
    const bool fasta = buffer[0] == '>';
    if (!isMark(buffer[0])) std::puts("Corrupt input file [5].");
    const int32_t segments = layout.finish();
    if (segments == 0) std::puts("no segments found");

    const char *const end = buffer + size;
    ZeroFinder zeros(buffer, end);
    const char *r = buffer;
    char *w = buffer;
    int32_t filled = 0;
    int64_t total = 0;
    while (filled < segments) {
        r = findHeader(buffer, r, end);
        if (r == end) break;
        ++r;
        const Header header = copyHeader(r, w, end, true);
        char *bases = w;
        const int64_t length = readBases(r, w, zeros);
        // An entry without a "+" line keeps its quality offset 0: the start of the buffer.
        char *quals = buffer;
        int64_t values = 0;
        if (!fasta && *r == '+') {
            r = skipLine(r, end);
            quals = w;
            values = readQualityLine(r, w, zeros, length);
            w += values;
        }
        if ((!fasta && values != length) || length > INT32_MAX) {
            warnLine("Warning: %-20.20s has %d bases and %d quals, skipping entry\n", header.name,
                     static_cast<int>(length > INT32_MAX ? INT32_MAX : length),
                     static_cast<int>(values));
            w = header.name;
            continue;
        }
        fillRecord(records[filled++], header, bases, length, quals, fasta);
        total += length;
    }
    *count = filled;
    *base_total = total;
}

}  // namespace

extern "C" SeqEntry *decodeFastq(const char *path, int32_t *count, int64_t *base_total,
                                 char *buffer, uint64_t clear_len, SeqEntry *records) {
    decode(path, count, base_total, buffer, clear_len, records);
    return records;
}
