// decodeFastq2: the self-allocating decoder with its summary line.
#include <algorithm>
#include <climits>
#include <cstdio>

#include "fast.h"
#include "fastq/bam.hpp"
#include "fastq/scan.hpp"
#include "fastq/textio.hpp"

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
    if (isBam(base, static_cast<size_t>(size))) {
        std::printf("error decodeFastq: %s: %s\n", path, kBamRefused);
        return nullptr;
    }
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
        const Entry entry = readEntry(r, w, end, zeros);
        if (!entry.kept()) {
            std::printf("Warning: %-20.20s (%ld) has %d bases and %d quals, skipping entry\n",
                        entry.header.name, static_cast<long>(entry.header.name_len),
                        clampInt(entry.length), clampInt(entry.values));
            w = entry.header.name;
            continue;
        }
        SeqEntry &e = records.get()[segments++];
        fillRecord(e, entry.header, entry.bases, entry.length, entry.quals, entry.fasta);
        // Counted while the values are still in the cache.
        total += entry.length;
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
