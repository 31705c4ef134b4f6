// The writer: entries out as FASTQ/FASTA text through the output layer. Every batch is checked
// whole before a byte of it is put, so that what is written reads back as the same entries.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "fast.h"
#include "fastq/lines.hpp"
#include "fastq/scan.hpp"
#include "fastq/textio.hpp"
#include "fastq/writer.hpp"
#include "index/index.hpp"
#include "output/output.hpp"

namespace fast {

// The record index a writer writes beside its file: the entries at its split points as they are
// written, then the file's identity once it is complete, then the index file itself.
struct WrittenIndex {
    WrittenIndex(int64_t every, int64_t spacing_, uint8_t format_)
        : marks(every), spacing(spacing_), format(format_) {}
    WriterMarks marks;
    int64_t spacing;
    uint8_t format;
    int64_t text_size = 0;
    bool sync = true, unnamed = true;  // as the file's
    std::string path;
    FileIdentity identity;
    Output out;
};

}  // namespace fast

struct FastqWriter {
    fast::Output out;
    std::unique_ptr<fast::WrittenIndex> index;  // with FAST_WRITE_INDEX
    int64_t entries = 0;                        // entries accepted so far
    int kind = -1;          // is_fasta of the last entry accepted, -1 before the first
    std::size_t width = 0;  // bases per line of a FASTA entry; 0: one line
    bool failed = false;
    int finish_result = 1;  // 0 or -1 once finish ran
    std::string error;      // a refusal of our own; else the output's reason
    // Interleaved pairs: both mates of each pair in turn, put as one batch.
    fast::MallocPtr<SeqEntry> turns;
    std::size_t turns_cap = 0;

    [[gnu::format(printf, 2, 3)]] void fail(const char *format, ...) noexcept {
        if (failed) return;
        failed = true;
        char text[512];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        try {
            error = text;
        } catch (...) {
        }
    }
    // Whether the writer can take more; an output failure is the writer's too.
    bool usable() noexcept {
        if (!failed && out.failed()) failed = true;
        if (!failed && finish_result == 0) fail("the writer is finished");
        return !failed && finish_result > 0;
    }
};

namespace {

using fast::Output;

// A zstd file with an index starts a frame about every this many index spacings.
constexpr int64_t kZstdFrameSpacings = 4;

using fast::holdsEither;

// Quality values that the reader cannot get back from the bytes they are written as: -33 is
// a zero byte, which ends the text's reading, -23 a line feed, which ends the line, and -1 a
// blank, which among the first 20 bytes of the first quality line selects the numeric reading.
bool badQualities(const int8_t *q, std::size_t n) noexcept {
    if (holdsEither(q, n, static_cast<unsigned char>(-33), static_cast<unsigned char>(-23)))
        return true;
    return std::memchr(q, 0xff, n < 20 ? n : 20) != nullptr;
}

// The first base of a line after the first, of bases written in lines of `width`, that would
// end the bases ("+" or ">"), or n.
std::size_t lineStartEnding(const char *bases, std::size_t n, std::size_t width) noexcept {
    if (width == 0) return n;
    for (std::size_t i = width; i < n; i += width)
        if (bases[i] == '+' || bases[i] == '>') return i;
    return n;
}

// The first base that would end a line of bases written in lines of `width` with a carriage
// return, which the stream reads as part of the line end; or n.
std::size_t lineEndingInCr(const char *bases, std::size_t n, std::size_t width) noexcept {
    const std::size_t line = width == 0 ? n : width;
    for (std::size_t i = line; n > 0; i += line) {
        const std::size_t last = (i < n ? i : n) - 1;
        if (bases[last] == '\r') return last;
        if (i >= n) break;
    }
    return n;
}

inline bool endsInCr(const char *s) noexcept {
    const std::size_t n = std::strlen(s);
    return n > 0 && s[n - 1] == '\r';
}

// Why `e`, written after an entry of kind `before` (-1: none) with FASTA lines of `width`
// bases, would not read back as itself; nullptr when it would. `at` gets the place of a base
// that is refused.
const char *refusal(const SeqEntry &e, int before, std::size_t width, std::size_t &at) noexcept {
    if (e.is_fasta != 0 && e.is_fasta != 1) return "is_fasta is neither 0 nor 1";
    if (!e.name) return "it has no name";
    if (std::strpbrk(e.name, " \n"))
        return std::strchr(e.name, ' ') ? "its name holds a blank" : "its name holds a line feed";
    if (e.comment && std::strchr(e.comment, '\n')) return "its comment holds a line feed";
    if (e.length < 0) return "its length is negative";
    const std::size_t n = static_cast<std::size_t>(e.length);
    if (n > 0 && !e.bases) return "it has no bases";
    if (n > 0 && !e.is_fasta && !e.quals) return "it has no quality values";
    if (n > 0 && holdsEither(e.bases, n, '\n', 0))
        return std::memchr(e.bases, '\n', n) ? "its bases hold a line feed"
                                             : "its bases hold a zero byte";
    if (n > 0 && (e.bases[0] == '+' || e.bases[0] == '>'))
        return e.bases[0] == '+' ? "its first base is \"+\", which would end its bases"
                                 : "its first base is \">\", which would end its bases";
    std::size_t place = e.is_fasta ? lineStartEnding(e.bases, n, width) : n;
    if (place < n) {
        at = place;
        return e.bases[at] == '+' ? "\"+\" would start a line of its bases and end them"
                                  : "\">\" would start a line of its bases and end them";
    }
    if (!e.is_fasta && badQualities(e.quals, n)) {
        for (std::size_t i = 0;; ++i) {
            if (e.quals[i] == -33) return "its quality value -33 would be a zero byte";
            if (e.quals[i] == -23) return "its quality value -23 would be a line feed";
            if (e.quals[i] == -1 && i < 20)
                return "its quality value -1 would be a blank among the first 20, which "
                       "selects the numeric reading";
        }
    }
    // The stream reads a carriage return at a line's end as part of the line end.
    if (!e.comment && endsInCr(e.name))
        return "its name ends in a carriage return, which the stream would read as the line's end";
    if (e.comment && endsInCr(e.comment))
        return "its comment ends in a carriage return, which the stream would read as the line's "
               "end";
    if ((place = lineEndingInCr(e.bases, n, e.is_fasta ? width : 0)) < n) {
        at = place;
        return "a carriage return would end a line of its bases, which the stream would read as "
               "the line's end";
    }
    if (!e.is_fasta && n > 0 && e.quals[n - 1] == -20)
        return "its last quality value -20 would be a carriage return, which the stream would "
               "read as the line's end";
    if (before >= 0 && before != e.is_fasta)
        return e.is_fasta ? "a FASTA entry cannot follow a FASTQ entry"
                          : "a FASTQ entry cannot follow a FASTA entry";
    return nullptr;
}

// Checks a batch: true when every entry would read back, else the writer fails naming the
// first that would not.
bool check(FastqWriter &w, const SeqEntry *entries, int32_t count) noexcept {
    int kind = w.kind;
    for (int32_t i = 0; i < count; ++i) {
        const SeqEntry &e = entries[i];
        std::size_t at = 0;
        if (const char *why = refusal(e, kind, w.width, at)) {
            char place[48] = "";
            if (at > 0) std::snprintf(place, sizeof place, "base %zu: ", at + 1);
            w.fail("entry %lld (\"%.100s\") cannot be written: %s%s",
                   static_cast<long long>(w.entries + i + 1), e.name ? e.name : "", place, why);
            return false;
        }
        kind = e.is_fasta;
    }
    return true;
}

inline char phred(char q) noexcept {
    return static_cast<char>(static_cast<unsigned char>(q) + 33);
}

// Copies n bases to p in lines of `width` (0: one line), each ended by a line feed, as one
// line feed alone for no bases; returns the end.
char *putLines(char *p, const char *bases, std::size_t n, std::size_t width) noexcept {
    if (width == 0 || n <= width) {
        if (n) std::memcpy(p, bases, n);
        p += n;
        *p++ = '\n';
        return p;
    }
    for (std::size_t i = 0; i < n; i += width) {
        const std::size_t k = std::min(width, n - i);
        std::memcpy(p, bases + i, k);
        p += k;
        *p++ = '\n';
    }
    return p;
}

// The line feeds of n bases written in lines of `width`.
std::size_t lineFeeds(std::size_t n, std::size_t width) noexcept {
    return width == 0 || n <= width ? 1 : (n + width - 1) / width;
}

// Puts one entry, in the current slot when it fits there whole.
bool put(Output &out, const SeqEntry &e, std::size_t width) noexcept {
    const std::size_t name = std::strlen(e.name);
    const std::size_t comment = e.comment ? std::strlen(e.comment) : 0;
    const std::size_t n = static_cast<std::size_t>(e.length);
    const bool fastq = !e.is_fasta;
    if (fastq) width = 0;
    const std::size_t need = 1 + name + (e.comment ? 1 + comment : 0) + 1 + n +
                             lineFeeds(n, width) + (fastq ? 2 + n + 1 : 0);
    std::size_t room;
    char *p = out.room(room);
    if (need <= room) {
        *p++ = fastq ? '@' : '>';
        std::memcpy(p, e.name, name);
        p += name;
        if (e.comment) {
            *p++ = ' ';
            std::memcpy(p, e.comment, comment);
            p += comment;
        }
        *p++ = '\n';
        p = putLines(p, e.bases, n, width);
        if (fastq) {
            *p++ = '+';
            *p++ = '\n';
            const char *q = reinterpret_cast<const char *>(e.quals);
            for (std::size_t i = 0; i < n; ++i) p[i] = phred(q[i]);
            p += n;
            *p++ = '\n';
        }
        out.wrote(need);
        return true;
    }
    const char mark = fastq ? '@' : '>';
    bool ok = out.put(&mark, 1) && out.put(e.name, name) &&
              (!e.comment || (out.put(" ", 1) && out.put(e.comment, comment))) && out.put("\n", 1);
    // No bases are one empty line.
    const std::size_t line = width == 0 || n <= width ? n : width;
    if (n == 0) ok = ok && out.put("\n", 1);
    for (std::size_t i = 0; ok && i < n; i += line)
        ok = out.put(e.bases + i, std::min(line, n - i)) && out.put("\n", 1);
    if (ok && fastq)
        ok = out.put("+\n", 2) &&
             (n == 0 || out.putMapped(reinterpret_cast<const char *>(e.quals), n, phred)) &&
             out.put("\n", 1);
    return ok;
}

bool putAll(FastqWriter &w, const SeqEntry *entries, int32_t count) noexcept {
    for (int32_t i = 0; i < count; ++i) {
        if (w.index) {
            try {
                w.index->marks.entry(w.out.textAt(), w.entries + i);
            } catch (const std::bad_alloc &) {
                w.fail("out of memory");
                return false;
            }
        }
        if (!put(w.out, entries[i], w.width)) {
            w.failed = true;
            return false;
        }
    }
    if (count > 0) w.kind = entries[count - 1].is_fasta;
    w.entries += count;
    return true;
}

// Whether a batch's arguments are sound; fails the writer when not.
bool arguments(FastqWriter &w, const SeqEntry *entries, int32_t count) noexcept {
    if (count >= 0 && (entries || count == 0)) return true;
    w.fail("%s", count < 0 ? "the entry count is negative" : "the entries are NULL");
    errno = EINVAL;
    return false;
}

// Once the file is complete, writes its index beside it, complete and synced but not yet in
// place; false with the writer failed.
bool completeIndex(FastqWriter &w) noexcept {
    fast::WrittenIndex &x = *w.index;
    try {
        const fast::RecordIndex index =
            x.marks.finish(x.format, x.identity, w.out.points(), w.entries, x.text_size, x.spacing);
        const std::vector<unsigned char> bytes = index.serialize();
        fast::OutputSettings settings;
        settings.threads = 1;
        settings.sync = x.sync;
        settings.unnamed = x.unnamed;
        if (!x.out.open(x.path.c_str(), nullptr, settings)) {
            w.fail("%s: %s", x.path.c_str(), std::strerror(errno));
            return false;
        }
        if (!x.out.put(bytes.data(), bytes.size()) || !x.out.complete()) {
            w.fail("%s: %s", x.path.c_str(), x.out.why() ? x.out.why() : "cannot be written");
            return false;
        }
    } catch (const std::exception &) {
        w.fail("out of memory");
        return false;
    }
    return true;
}

// Both mates of each pair in turn into one file, checked as the interleaved reader pairs them.
int32_t writeInterleaved(FastqWriter &w, const SeqEntry *first, const SeqEntry *second,
                         int32_t count) noexcept {
    if (!w.usable() || !arguments(w, first, count) || !arguments(w, second, count)) return -1;
    const std::size_t turns = 2 * static_cast<std::size_t>(count);
    if (turns > w.turns_cap) {
        if (!fast::resize(w.turns, turns)) {
            w.fail("out of memory");
            return -1;
        }
        w.turns_cap = turns;
    }
    for (int32_t i = 0; i < count; ++i) {
        w.turns.get()[2 * i] = first[i];
        w.turns.get()[2 * i + 1] = second[i];
    }
    const SeqEntry *both = w.turns.get();
    if (!check(w, both, 2 * count)) return -1;
    for (int32_t i = 0; i < count; ++i)
        if (!fast::namesPair(first[i].name, second[i].name)) {
            const long long at = w.entries + 2 * i + 1;
            w.fail("entries %lld and %lld have unpaired names: \"%.100s\" and \"%.100s\"", at,
                   at + 1, first[i].name, second[i].name);
            return -1;
        }
    return putAll(w, both, 2 * count) ? 0 : -1;
}

}  // namespace

FastqWriter *fast::openWriter(const char *path, const FastqWriterOptions *options,
                              std::size_t slot_bytes, bool unnamed) noexcept {
    // The fields of the first version (index_spacing came with the second); a larger size is
    // of a later header, whose fields past these must be left at zero.
    constexpr std::size_t kFirstSize = 6 * sizeof(int32_t);
    FastqWriterOptions o{};
    o.size = sizeof o;
    if (options) {
        if (options->size < static_cast<int32_t>(sizeof o) &&
            options->size != static_cast<int32_t>(kFirstSize)) {
            errno = EINVAL;
            return nullptr;
        }
        const std::size_t size = static_cast<std::size_t>(options->size);
        const unsigned char *bytes = reinterpret_cast<const unsigned char *>(options);
        for (std::size_t i = sizeof o; i < size; ++i) {
            if (bytes[i] != 0) {
                errno = EINVAL;
                return nullptr;
            }
        }
        std::memcpy(&o, options, std::min(size, sizeof o));
    }
    if ((o.flags & ~(FAST_WRITE_NO_SYNC | FAST_WRITE_INDEX)) != 0 || o.fasta_width < 0 ||
        o.index_spacing < 0) {
        errno = EINVAL;
        return nullptr;
    }
    const fast::FormatInfo *f = nullptr;
    switch (path ? o.format : -1) {
        case FAST_WRITE_AUTO:
            f = fast::formatOfPath(path);
            break;
        case FAST_WRITE_PLAIN:
            break;
        case FAST_WRITE_BGZF:
            f = fast::formatNamed(fast::Format::gzip);
            break;
        case FAST_WRITE_ZSTD:
            f = fast::formatNamed(fast::Format::zstd);
            break;
        default:
            errno = EINVAL;
            return nullptr;
    }
    // xz and bzip2 are not written, nor zstd by a build without its library.
    if (f && !f->writer) {
        errno = EINVAL;
        return nullptr;
    }
    FastqWriter *w = new (std::nothrow) FastqWriter;
    if (!w) {
        errno = ENOMEM;
        return nullptr;
    }
    w->width = static_cast<std::size_t>(o.fasta_width);
    // Split points further apart than any file's text are one point, at its start.
    const int64_t spacing =
        std::min(o.index_spacing ? o.index_spacing : FAST_INDEX_SPACING, int64_t{1} << 56);
    fast::OutputSettings settings;
    if (o.flags & FAST_WRITE_INDEX) {
        // A point costs a BGZF file or plain text nothing, and comes as often as the points of
        // an index built by a pass; in a zstd file it costs a frame's restart, which on reads
        // of a small genome loses some of the matches the frame's window found, and comes a
        // quarter as often as a point with a deflate window.
        settings.point_text =
            static_cast<std::size_t>(f && !f->writer->apart ? kZstdFrameSpacings * spacing
                                                            : std::max<int64_t>(1, spacing / 8));
    }
    settings.level = o.level;
    settings.threads = o.threads;
    settings.sync = (o.flags & FAST_WRITE_NO_SYNC) == 0;
    settings.unnamed = unnamed;
    settings.slot_bytes = slot_bytes;
    if (!w->out.open(path, f, settings)) {
        const int error = errno;
        delete w;
        errno = error;
        return nullptr;
    }
    if (o.flags & FAST_WRITE_INDEX) {
        if (!w->out.placing()) {
            delete w;
            errno = EINVAL;
            return nullptr;
        }
        try {
            w->index.reset(new fast::WrittenIndex(w->out.pointText(), spacing,
                                                  f ? static_cast<uint8_t>(f->format) : 0));
            w->index->path = fast::indexPathFor(path);
            w->index->sync = settings.sync;
            w->index->unnamed = unnamed;
        } catch (const std::bad_alloc &) {
            delete w;
            errno = ENOMEM;
            return nullptr;
        }
        w->out.whenComplete(
            [](int fd, void *identity) {
                return fast::identifyOpen(fd, *static_cast<fast::FileIdentity *>(identity));
            },
            &w->index->identity);
    }
    return w;
}

extern "C" {

FastqWriter *openFastqWriter(const char *path, int32_t format, int32_t level, int32_t threads) {
    FastqWriterOptions o{};
    o.size = sizeof o;
    o.format = format;
    o.level = level;
    o.threads = threads;
    return fast::openWriter(path, &o, 0);
}

FastqWriter *openFastqWriterWith(const char *path, const FastqWriterOptions *options) {
    return fast::openWriter(path, options, 0);
}

int32_t writeFastqBatch(FastqWriter *writer, const SeqEntry *entries, int32_t count) {
    if (!writer) {
        errno = EINVAL;
        return -1;
    }
    FastqWriter &w = *writer;
    if (!w.usable() || !arguments(w, entries, count) || !check(w, entries, count) ||
        !putAll(w, entries, count))
        return -1;
    return 0;
}

int32_t writeFastqPairBatch(FastqWriter *first, FastqWriter *second, const SeqEntry *first_entries,
                            const SeqEntry *second_entries, int32_t count) {
    if (!first || !second) {
        errno = EINVAL;
        return -1;
    }
    if (first == second) return writeInterleaved(*first, first_entries, second_entries, count);
    FastqWriter *const writers[] = {first, second};
    const SeqEntry *const entries[] = {first_entries, second_entries};
    return writeFastqBatches(writers, 2, entries, count);
}

int32_t writeFastqBatches(FastqWriter *const *writers, int32_t n, const SeqEntry *const *entries,
                          int32_t count) {
    if (!writers || !entries || n < 1) {
        errno = EINVAL;
        return -1;
    }
    if (!fast::distinctHandles(writers, n)) {
        errno = EINVAL;
        return -1;
    }
    char spare[16];
    // Any writer's failure is every writer's: files in step end with the same entries or none
    // is kept.
    const auto all = [&]() -> int32_t {
        for (int32_t k = 0; k < n; ++k) {
            if (!writers[k]->failed) continue;
            for (int32_t i = 0; i < n; ++i)
                if (!writers[i]->failed)
                    writers[i]->fail("%s file: %s", fast::fileOrdinal(k, spare),
                                     fastqWriterError(writers[k]));
        }
        return -1;
    };
    for (int32_t i = 0; i < n; ++i)
        if (!writers[i]->usable()) return all();
    for (int32_t i = 0; i < n; ++i)
        if (!arguments(*writers[i], entries[i], count)) return all();
    for (int32_t i = 0; i < n; ++i)
        if (!check(*writers[i], entries[i], count)) return all();
    FastqWriter &a = *writers[0];
    for (int32_t i = 1; i < n; ++i)
        for (int32_t k = 0; k < count; ++k) {
            const SeqEntry &x = entries[0][k], &y = entries[i][k];
            if (!fast::namesPair(x.name, y.name)) {
                a.fail(FAST_UNPAIRED_IN_FORMAT, static_cast<long long>(a.entries + k + 1), x.name,
                       y.name, fast::fileOrdinal(i, spare));
                return all();
            }
        }
    for (int32_t i = 0; i < n; ++i)
        if (!putAll(*writers[i], entries[i], count)) return all();
    return 0;
}

int32_t finishFastqWriter(FastqWriter *writer) {
    if (!writer) {
        errno = EINVAL;
        return -1;
    }
    return finishFastqWriters(&writer, 1);
}

int32_t finishFastqWriters(FastqWriter **writers, int32_t count) {
    if (count < 0 || (count > 0 && !writers)) {
        errno = EINVAL;
        return -1;
    }
    if (count > 0 && !fast::distinctHandles(writers, count)) {
        errno = EINVAL;
        return -1;
    }
    // The writers not finished yet, whose files are to be put in place here.
    const auto open = [&](int32_t i) { return writers[i]->finish_result > 0; };
    // The failure of file `bad` is every open writer's; -1.
    const auto failAll = [&](int32_t bad) -> int32_t {
        for (int32_t i = 0; i < count; ++i) {
            FastqWriter &w = *writers[i];
            if (i != bad && open(i) && count > 1)
                w.fail("file %d: %s", bad + 1, fastqWriterError(writers[bad]));
            if (open(i) || w.finish_result < 0) {
                w.failed = true;
                w.finish_result = -1;
            }
        }
        return -1;
    };
    for (int32_t i = 0; i < count; ++i)
        if (writers[i]->finish_result < 0) return failAll(i);
    // Every file is written and synced before any is named, and every one named before any
    // is renamed, so that a failure up to the renames keeps none. One file alone is linked
    // straight onto its name where nothing is there.
    // A file's index is one more file to put in place with it.
    bool alone = count == 1;
    for (int32_t i = 0; i < count; ++i) {
        if (!open(i)) continue;
        FastqWriter &w = *writers[i];
        if (!w.usable()) return failAll(i);
        if (w.index) w.index->text_size = w.out.textAt();
        if (!w.out.complete()) return failAll(i);
        if (w.index) {
            if (!completeIndex(w)) return failAll(i);
            alone = false;
        }
    }
    // The index's failure is its writer's.
    const auto indexFailed = [&](int32_t i) {
        const fast::WrittenIndex &x = *writers[i]->index;
        writers[i]->fail("%s: %s", x.path.c_str(),
                         x.out.why() ? x.out.why() : "cannot be put in place");
        return failAll(i);
    };
    if (!alone) {
        for (int32_t i = 0; i < count; ++i) {
            if (!open(i)) continue;
            if (writers[i]->index && !writers[i]->index->out.stage()) return indexFailed(i);
            if (!writers[i]->out.stage()) return failAll(i);
        }
    }
    // An index goes in place before its file: a failure between the two leaves the old file,
    // which the new index does not match.
    for (int32_t i = 0; i < count; ++i) {
        if (!open(i)) continue;
        FastqWriter &w = *writers[i];
        if (w.index && !w.index->out.place(false)) return indexFailed(i);
        if (!w.out.place(alone)) return failAll(i);
        w.finish_result = 0;
    }
    return 0;
}

const char *fastqWriterError(const FastqWriter *writer) {
    if (!writer || !writer->failed) return writer ? writer->out.why() : nullptr;
    return writer->error.empty() ? writer->out.why() : writer->error.c_str();
}

void closeFastqWriter(FastqWriter *writer) {
    delete writer;
}

}  // extern "C"
