// decodeFastq2: the self-allocating decoder with its summary line.
#include <algorithm>
#include <climits>
#include <cstdio>

#include "fast.h"
#include "scan.hpp"
#include "textio.hpp"

namespace {

using namespace fast;

// Line starts in text[from, to) that hold "@" or ">": every entry starts at one, so their
// number bounds the number of entries. Position 0 is counted by the caller.
int64_t countHeaderStarts(const char *text, int64_t from, int64_t to) noexcept {
    int64_t n = 0;
    for (int64_t i = from > 0 ? from : 1; i < to;) {
        // Byte counters, added up before they can overflow, so that the loop vectorises.
        const int64_t stop = std::min(to, i + 255);
        uint8_t block = 0;
        for (; i < stop; ++i) block += (text[i - 1] == '\n') & isMark(text[i]);
        n += block;
    }
    return n;
}

// The quality part from the line start r, over as many lines as it takes: a line that starts
// with "@" ends it only once `length` values are in, so "@" (31) as a first quality letter is
// still quality. Returns the number of values written at w.
int64_t readQuals(const char *&r, char *w, ZeroFinder &zeros, int64_t length, bool numeric) {
    NumericQuals num(w);
    int64_t phred = 0;
    for (;;) {
        const char *zero = zeros.next(r);
        if (r == zero) break;
        if (*r == '@' && (numeric ? num.count() : phred) >= length) break;
        const char *lf = findByte(r, '\n', zero);
        const char *stop = lf ? lf : zero;
        if (numeric) {
            for (const char *p = r; p < stop; ++p) num.feed(*p);
            num.close();
        } else {
            phredCopy(w + phred, r, static_cast<size_t>(stop - r));
            phred += stop - r;
        }
        r = lf ? lf + 1 : zero;
    }
    return numeric ? num.count() : phred;
}

int clampInt(int64_t v) {
    return v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

SeqEntry *decode(const char *path, int32_t *count, int64_t *base_total, int32_t threshold) {
    Input in;
    if (!in.open(path)) {
        std::printf("error decodeFastq: %s not found\n", path);
        return nullptr;
    }
    if (!in.readable()) {
        std::printf("error decodeFastq: %s is %s-compressed; this build reads %s text\n", path,
                    in.format()->name, readableFormats());
        return nullptr;
    }
    MallocPtr<char> text;
    int64_t size = 0;
    int64_t marks = 0;
    const LoadEnd loaded = loadText(in, text, size, [&](const char *t, int64_t from, int64_t to) {
        marks += countHeaderStarts(t, from, to);
    });
    switch (loaded) {
        case LoadEnd::loaded:
            break;
        case LoadEnd::empty:
            std::printf("error decodeFastq: no data in %s\n", path);
            return nullptr;
        case LoadEnd::no_memory:
            std::puts("error decodeFastq: malloc error");
            return nullptr;
        case LoadEnd::short_read:
            std::printf("error decodeFastq: %s is too small\n", path);
            return nullptr;
        case LoadEnd::bad_input:
            std::printf("error decodeFastq: %s: %s\n", path, in.why());
            return nullptr;
    }
    char *const base = text.get();
    const char *const end = base + size;
    marks += isMark(base[0]);

    const int64_t slots = std::min<int64_t>(marks, INT32_MAX);
    if (slots == 0) {
        std::puts("error decodeFastq: no segments found");
        return nullptr;
    }
    MallocPtr<SeqEntry> records(
        static_cast<SeqEntry *>(std::calloc(static_cast<size_t>(slots), sizeof(SeqEntry))));
    if (!records) {
        std::puts("error decodeFastq: calloc error");
        return nullptr;
    }
    adviseHugePages(records.get(), static_cast<size_t>(slots) * sizeof(SeqEntry));
    // The records are written in order by the pass below, behind the helper's faults.
    Prefault prefault(records.get(), static_cast<size_t>(slots) * sizeof(SeqEntry));

    ZeroFinder zeros(base, end);
    const char *r = base;
    char *w = base;
    int32_t segments = 0;
    int64_t total = 0;
    int64_t qbases = 0;
    while (segments < slots) {
        r = findHeader(base, r, end);
        if (r == end) break;
        const bool fasta = *r++ == '>';
        const Header header = copyHeader(r, w, end, false);
        char *bases = w;
        const int64_t length = readBases(r, w, zeros);
        char *quals = w;
        int64_t values = length;
        if (!fasta) {
            values = 0;
            if (*r == '+') {
                r = skipLine(r, end);
                values = readQuals(r, w, zeros, length, numericWindow(r, zeros.next(r)));
                w += values;
            }
        }
        if (values != length || length > INT32_MAX) {
            std::printf("Warning: %-20.20s (%ld) has %d bases and %d quals, skipping entry\n",
                        header.name, static_cast<long>(header.name_len), clampInt(length),
                        clampInt(values));
            w = header.name;
            continue;
        }
        SeqEntry &e = records.get()[segments++];
        fillRecord(e, header, bases, length, quals, fasta);
        // Counted while the values are still in the cache.
        total += length;
        qbases += countQthresh(&e, threshold);
    }

    std::printf("Total memory = %ld, total bases = %ld, Qbases(%d) = %ld, segments = %d\n",
                static_cast<long>(w - base), static_cast<long>(total), threshold,
                static_cast<long>(qbases), segments);
    *count = segments;
    *base_total = total;
    // With no entry accepted nothing points into the text, and records[0].name is null.
    if (segments > 0) text.release();
    return records.release();
}

}  // namespace

extern "C" SeqEntry *decodeFastq2(const char *path, int32_t *count, int64_t *base_total,
                                  int32_t threshold) {
    return decode(path, count, base_total, threshold);
}
