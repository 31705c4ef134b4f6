// Pieces of the in-place FASTQ/FASTA rewrite shared by both decoders.
//
// Both decoders read the text at r and write their output at w inside the same buffer. Every
// entry drops at least its header mark, so w stays at least one byte behind r and the byte
// before r is still the file's text: the line-start test may look at it.
#ifndef FAST_SCAN_HPP
#define FAST_SCAN_HPP

#include <cstdint>
#include <cstdio>
#include <cstring>

#include <climits>

#include "fast.h"

namespace fast {

// Written without a branch so that counting loops over it vectorise.
inline bool isMark(char c) noexcept {
    return (c == '@') | (c == '>');
}

inline const char *findByte(const char *p, char c, const char *end) noexcept {
    return static_cast<const char *>(std::memchr(p, c, static_cast<size_t>(end - p)));
}

// Number of "@" and ">" bytes in [p, end).
inline int64_t countMarks(const char *p, const char *end) noexcept {
    int64_t n = 0;
    for (; p < end; ++p) n += isMark(*p);
    return n;
}

// The first position at or after r that is a line start holding "@" or ">", or end.
inline const char *findHeader(const char *text, const char *r, const char *end) noexcept {
    if (r < end && (r == text || r[-1] == '\n') && isMark(*r)) return r;
    while (r < end) {
        const char *lf = findByte(r, '\n', end);
        if (!lf) return end;
        r = lf + 1;
        if (r < end && isMark(*r)) return r;
    }
    return end;
}

// Sequence and quality readings end at the next zero byte; the text always has one at its end.
class ZeroFinder {
  public:
    ZeroFinder(const char *text, const char *end) noexcept
        : end_(end), zero_(findByte(text, 0, end + 1)) {}
    // One that looks for a zero byte only when it is first asked.
    static ZeroFinder lazy(const char *text, const char *end) noexcept {
        ZeroFinder zeros(end, end);
        zeros.zero_ = text - 1;
        return zeros;
    }
    const char *next(const char *r) noexcept {
        if (zero_ < r) zero_ = findByte(r, 0, end_ + 1);
        return zero_;
    }

  private:
    const char *end_;
    const char *zero_;
};

// Where a line's text ends, given where its line feed (or the zero byte that ends the text) is:
// with `crlf`, a carriage return directly before it belongs to the line end.
inline const char *textEnd(const char *start, const char *stop, bool crlf) noexcept {
    return crlf && stop > start && stop[-1] == '\r' ? stop - 1 : stop;
}

struct Header {
    char *name;
    char *comment;  // nullptr when the name ended the line
    int64_t name_len;
};

// Copies the header line that starts after its mark at r: the name up to the first blank (or
// tab, when tab_ends_name) or line feed, then the comment up to the line feed, each closed
// with a zero byte. A line without a line feed ends at the end of the text. r is left at the
// next line.
inline Header copyHeader(const char *&r, char *&w, const char *end, bool tab_ends_name,
                         bool crlf = false) noexcept {
    const char *lf = findByte(r, '\n', end);
    const char *line_end = textEnd(r, lf ? lf : end, crlf);
    const char *stop = r;
    if (tab_ends_name) {
        while (stop < line_end && *stop != ' ' && *stop != '\t') ++stop;
    } else {
        stop = findByte(r, ' ', line_end);
        if (!stop) stop = line_end;
    }
    Header h{w, nullptr, stop - r};
    std::memmove(w, r, static_cast<size_t>(h.name_len));
    w += h.name_len;
    *w++ = 0;
    if (stop < line_end) {
        h.comment = w;
        const size_t n = static_cast<size_t>(line_end - stop - 1);
        std::memmove(w, stop + 1, n);
        w += n;
        *w++ = 0;
    }
    r = lf ? lf + 1 : end;
    return h;
}

// The fields a decoder sets in the record of an accepted entry; aux and aux_text are left alone.
inline void fillRecord(SeqEntry &e, const Header &h, char *bases, int64_t length, char *quals,
                       bool fasta) noexcept {
    e.name = h.name;
    e.comment = h.comment;
    e.length = static_cast<int32_t>(length);
    e.bases = bases;
    e.quals = fasta ? nullptr : reinterpret_cast<int8_t *>(quals);
    e.is_fasta = fasta;
}

// Copies the bases from the line start r: every byte but line feeds, up to a zero byte or a
// line that starts with "+" or ">". r is left on the byte that stopped them.
// With crlf_end (the end of the text), a carriage return before a line feed or before that end
// belongs to the line end; not one before a zero byte inside the text.
inline int64_t readBases(const char *&r, char *&w, ZeroFinder &zeros,
                         const char *crlf_end = nullptr) noexcept {
    int64_t n = 0;
    for (;;) {
        const char *zero = zeros.next(r);
        if (r == zero || *r == '+' || *r == '>') return n;
        const char *lf = findByte(r, '\n', zero);
        const char *stop = textEnd(r, lf ? lf : zero, crlf_end && (lf || zero == crlf_end));
        const size_t len = static_cast<size_t>(stop - r);
        std::memmove(w, r, len);
        w += len;
        n += static_cast<int64_t>(len);
        r = lf ? lf + 1 : zero;
    }
}

// The position after the line that holds r, or end.
inline const char *skipLine(const char *r, const char *end) noexcept {
    const char *lf = findByte(r, '\n', end);
    return lf ? lf + 1 : end;
}

// A blank among the first 20 bytes of the first quality line selects the numeric reading.
inline bool numericWindow(const char *r, const char *zero) noexcept {
    for (const char *p = r; p < zero && p < r + 20 && *p != '\n'; ++p)
        if (*p == ' ') return true;
    return false;
}

// Phred+33 values of [r, r + n) written at w <= r. Each block is loaded whole before it is
// stored, so the overlap of the two ranges does no harm.
inline void phredCopy(char *w, const char *r, size_t n) noexcept {
    constexpr size_t kBlock = 32;
    for (; n >= kBlock; n -= kBlock, r += kBlock, w += kBlock) {
        unsigned char t[kBlock];
        std::memcpy(t, r, kBlock);
        for (unsigned char &c : t) c = static_cast<unsigned char>(c - 33);
        std::memcpy(w, t, kBlock);
    }
    for (; n > 0; --n) *w++ = static_cast<char>(static_cast<unsigned char>(*r++) - 33);
}

// The numeric reading: each run of digits is one value of at most two significant digits
// ("123" is 12, "007" is 7), any other byte ends a run.
class NumericQuals {
  public:
    explicit NumericQuals(char *w) noexcept : w_(w) {}
    void feed(char c) noexcept {
        if (c >= '0' && c <= '9') {
            if (value_ <= 9) value_ = value_ * 10 + (c - '0');
            open_ = true;
        } else {
            close();
        }
    }
    void close() noexcept {
        if (!open_) return;
        *w_++ = static_cast<char>(value_);
        ++count_;
        value_ = 0;
        open_ = false;
    }
    int64_t count() const noexcept { return count_; }
    char *out() const noexcept { return w_; }

  private:
    char *w_;
    int value_ = 0;
    bool open_ = false;
    int64_t count_ = 0;
};

// The quality part from the line start r, over as many lines as it takes: a line that starts
// with "@" ends it only once `length` values are in, so "@" (31) as a first quality letter is
// still quality. Returns the number of values written at w.
inline int64_t readQuals(const char *&r, char *w, ZeroFinder &zeros, int64_t length, bool numeric,
                         const char *crlf_end = nullptr) noexcept {
    NumericQuals num(w);
    int64_t phred = 0;
    for (;;) {
        const char *zero = zeros.next(r);
        if (r == zero) break;
        if (*r == '@' && (numeric ? num.count() : phred) >= length) break;
        const char *lf = findByte(r, '\n', zero);
        const char *stop = textEnd(r, lf ? lf : zero, crlf_end && (lf || zero == crlf_end));
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

// One entry of decodeFastq2's reading, as it was written out.
struct Entry {
    Header header;
    char *bases;
    int64_t length;
    char *quals;
    int64_t values;
    bool fasta;
    // An entry is kept when it has as many quality values as bases (FASTA entries always).
    bool kept() const noexcept { return values == length && length <= INT32_MAX; }
};

// Reads the entry whose "@" or ">" is at r (a line start) and writes its name, comment, bases
// and quality values at w. r is left on the byte that ended the entry, or at end; w after what
// was written, which is never more than what was read. With `crlf` (the stream's reading) a
// carriage return before a line feed, or before the text's end, is part of the line end; the
// whole-file decoders keep it as a byte.
inline Entry readEntry(const char *&r, char *&w, const char *end, ZeroFinder &zeros,
                       bool crlf = false) noexcept {
    Entry e;
    e.fasta = *r++ == '>';
    e.header = copyHeader(r, w, end, false, crlf);
    e.bases = w;
    e.length = readBases(r, w, zeros, crlf ? end : nullptr);
    e.quals = w;
    e.values = e.length;
    if (!e.fasta) {
        e.values = 0;
        if (*r == '+') {
            r = skipLine(r, end);
            e.values = readQuals(r, w, zeros, e.length, numericWindow(r, zeros.next(r)),
                                 crlf ? end : nullptr);
            w += e.values;
        }
    }
    return e;
}

// The part of a name that pairs: up to the first blank or tab, without a final "/1" or "/2".
inline std::size_t pairedLength(const char *name) noexcept {
    const std::size_t n = std::strcspn(name, " \t");
    return n >= 2 && name[n - 2] == '/' && (name[n - 1] == '1' || name[n - 1] == '2') ? n - 2 : n;
}

// Whether two names are the mates of one pair.
inline bool namesPair(const char *a, const char *b) noexcept {
    const std::size_t n = pairedLength(a);
    return n == pairedLength(b) && std::memcmp(a, b, n) == 0;
}

// How the two files of a pair disagree on entry `number` (from 1), in the words of both the
// reader and the writer.
#define FAST_UNPAIRED_FORMAT \
    "entry %lld has unpaired names: \"%.100s\" in the first file, \"%.100s\" in the second"
// The same for any file read in step with the first: its ordinal ("second", "third", ...) last.
#define FAST_UNPAIRED_IN_FORMAT \
    "entry %lld has unpaired names: \"%.100s\" in the first file, \"%.100s\" in the %s"

// Whether the n handles are all there and no two are the same: files read or written in step.
template <class T>
bool distinctHandles(T *const *handles, int32_t n) noexcept {
    for (int32_t i = 0; i < n; ++i) {
        if (!handles[i]) return false;
        for (int32_t j = 0; j < i; ++j)
            if (handles[i] == handles[j]) return false;
    }
    return true;
}

// "first", "second", ... for the file at `index` (from 0) of files read in step; "file 9" and
// on as "9th".
inline const char *fileOrdinal(int32_t index, char (&spare)[16]) noexcept {
    static const char *const words[] = {"first", "second", "third",   "fourth",
                                        "fifth", "sixth",  "seventh", "eighth"};
    if (index >= 0 && index < 8) return words[index];
    std::snprintf(spare, sizeof spare, "%dth", index + 1);
    return spare;
}

}  // namespace fast

#endif
