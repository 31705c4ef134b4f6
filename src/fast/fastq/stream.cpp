// The streaming reader. A window of text moves over the blocks that the input layer reads ahead;
// each entry is read from it exactly as decodeFastq2 reads it. An entry of the common shapes (a
// FASTQ entry of four lines, a FASTA entry of one line of bases) whose end is in sight is read
// in place: its lines are found by the line-feed scan, its name and comment closed with zero
// bytes where their blank and line feed were, its quality letters turned into values where they
// stand, and its record points into the block, which is held until the next batch is asked for.
// Every other entry is read by decodeFastq2's own steps into an output buffer of the batch's
// own, so the window's text stays as it was. An entry that reaches the window's end (the zero
// byte put there) may go on: unless the window ends where the text does, it is read again once
// the next block is behind it, moved into that block's headroom (or, when it is long, into a
// buffer of its own together with enough blocks after it).
#include "fastq/stream.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "fastq/bam.hpp"
#include "fastq/lines.hpp"
#include "fastq/scan.hpp"
#include "fastq/textio.hpp"
#include "input/input.hpp"
#include "input/points.hpp"

namespace {

constexpr std::size_t kLeastBlock = std::size_t{64} << 10;
constexpr std::size_t kMostBlock = std::size_t{1} << 20;
// A batch holds at most this many entries, or one for each 64 bytes of its text, so that a
// text of tiny entries cannot make its array far larger than its text.
constexpr int64_t kLeastEntryCap = int64_t{1} << 16;

uintptr_t address(const void *p) noexcept {
    return reinterpret_cast<uintptr_t>(p);
}

template <class T>
T *moved(T *p, uintptr_t from, uintptr_t to) noexcept {
    return p ? reinterpret_cast<T *>(address(p) - from + to) : nullptr;
}

// p moved along with the block [from, from + size] to `to`; a pointer elsewhere stays.
template <class T>
T *movedIfIn(T *p, uintptr_t from, std::size_t size, uintptr_t to) noexcept {
    return p && address(p) - from <= size ? moved(p, from, to) : p;
}

// Blocks held for the entries read in place, beyond the two the window moves between. A batch
// that would hold more has its entries so far copied into its buffer, and lets them go.
constexpr std::size_t kMostHeld = 16;

}  // namespace

struct FastqStream {
    explicit FastqStream(int64_t batch) noexcept
        : batch_bytes(batch),
          most_entries(static_cast<int32_t>(
              std::min<int64_t>(INT32_MAX, std::max(kLeastEntryCap, batch / 64)))) {}

    fast::Input in;
    int64_t batch_bytes;
    int32_t most_entries;
    std::size_t headroom = 0;
    std::size_t most_held = 0;  // blocks the batch may hold for its entries read in place

    // The window: text [base, end), read up to r. *end is a zero byte; base[-1] is a line feed
    // when base starts a line. `final` once end is the end of the text.
    char empty[2] = {'\n', 0};
    char *base = empty + 1;
    char *end = empty + 1;
    const char *r = empty + 1;
    bool final = false;
    bool in_block = false;  // the window is a block taken from the input, not `stitch`
    fast::ZeroFinder zeros{empty + 1, empty + 1};
    fast::LineFinder lines{empty + 1, empty + 1};
    // Blocks the window has left that entries of this batch still point into, oldest first, all
    // taken before the window's; and whether the window's block holds such entries.
    std::size_t held = 0;
    bool pinned = false;
    fast::MallocPtr<char> stitch;
    std::size_t stitch_cap = 0;

    // The batch: its entries, their header lengths, and the text they point to.
    fast::MallocPtr<SeqEntry> entries;
    fast::MallocPtr<fast::HeaderLengths> lengths;
    std::size_t entries_cap = 0;
    fast::MallocPtr<char> arena;
    std::size_t arena_cap = 0;

    // Whether a batch may end only after an even count of entries: the mates of an interleaved
    // file, and the second mates taken out of the batch into `mates`.
    bool even = false;
    fast::MallocPtr<SeqEntry> mates;
    std::size_t mates_cap = 0;

    // BAM data, told by its first bytes, is read by its record decoder instead of the window.
    bool sniffed = false;
    std::unique_ptr<fast::BamDecoder> bam;
    // The text batch last read: its entries, and the bytes of `arena` they use.
    int32_t last_count = 0;
    std::size_t arena_used = 0;

    int state = 0;         // 0 while reading, 1 at the end, -1 after a failure
    bool failing = false;  // a failure, reported after the batch read before it
    char error[256] = {};
    int64_t skipped = 0;
    int64_t delivered = 0;

    // Where the window's base is in the text; text still to pass over before the first entry
    // (a span that starts at a split point before it); kept entries read so far from the text's
    // start, and those yet to be passed over or delivered; who is told of entries past watch_at.
    int64_t window_at = 0;
    int64_t skip_text = 0;
    int64_t number = 0;
    int64_t discard = 0;
    int64_t remaining = INT64_MAX;
    int64_t watch_at = INT64_MAX;
    fast::EntryWatch *watch = nullptr;
    std::unique_ptr<fast::EntryWatch> owned_watch;
    std::unique_ptr<fast::BatchSource> source;  // where the batches come from instead
    bool peek = false;     // at the end of a span, the watch is told of the entry after it
    bool peeking = false;  // fill() is reading that entry

    [[gnu::format(printf, 2, 3)]] void fail(const char *format, ...) noexcept {
        if (failing || state < 0) return;
        va_list args;
        va_start(args, format);
        std::vsnprintf(error, sizeof error, format, args);
        va_end(args);
        failing = true;
    }

    // The most entries the next batch may hold, and the count a batch took from a span.
    int32_t most() const noexcept {
        return static_cast<int32_t>(std::min<int64_t>(most_entries, remaining));
    }
    void spent(int32_t n) noexcept {
        if (remaining != INT64_MAX) remaining -= n;
    }
    // At the end of a span: tells the watch of the entry after it, when asked. False when the
    // watch finds it elsewhere than it expects, or the text ends before it.
    bool peekAfter() noexcept {
        if (!peek || failing) return true;  // a failure waiting is reported by the caller
        peek = false;
        peeking = true;
        fill(INT64_MAX, 1);
        if (peeking && !failing) fail("%s", watch->why());
        peeking = false;
        return !failed();
    }

    // At the end of the text: fails a span that it cut short.
    bool endsShort() noexcept {
        if (remaining == INT64_MAX || remaining == 0 || failing) return false;
        fail("the text ended %lld entries before the end of its span: its index does not match it",
             static_cast<long long>(remaining));
        return failed();
    }

    // Ends the stream with its failure, when one is waiting.
    bool failed() noexcept {
        if (failing) state = -1;
        return state < 0;
    }

    void setWindow(char *from, char *to) noexcept {
        base = from;
        end = to;
        *end = 0;
        r = from;
        // The zero bytes are looked for only once an entry is read by readEntry's steps.
        zeros = fast::ZeroFinder::lazy(from, to);
        lines = fast::LineFinder(from, to);
    }

    // Gives back the block that the window was in once its text is no longer needed, or holds it
    // while entries point into it (or into a block before it, which goes back first).
    void leaveBlock() noexcept {
        if (in_block) {
            if (pinned || held > 0)
                ++held;
            else
                in.giveBack();
        }
        in_block = false;
        pinned = false;
    }

    // Gives back the blocks held for the last batch, whose entries are no longer valid.
    void releaseHeld() noexcept {
        for (; held > 0; --held) in.giveBack();
        pinned = false;
    }

    bool inArena(const void *p) const noexcept {
        return address(p) - address(arena.get()) < arena_cap;
    }

    // Copies the first `count` entries of the batch that were read in place into its buffer
    // after w, and gives back the blocks held for them.
    bool relocate(char *&w, int32_t count) noexcept {
        if (held == 0 && !pinned) return true;
        std::size_t need = 0;
        for (int32_t i = 0; i < count; ++i) {
            const SeqEntry &e = entries.get()[i];
            if (inArena(e.name)) continue;
            need += std::strlen(e.name) + 1 + (e.comment ? std::strlen(e.comment) + 1 : 0) +
                    static_cast<std::size_t>(e.length) * (e.quals ? 2 : 1);
        }
        if (!reserveArena(w, count, need)) return false;
        const auto put = [&w](const void *from, std::size_t n) {
            char *at = w;
            std::memcpy(w, from, n);
            w += n;
            return at;
        };
        for (int32_t i = 0; i < count; ++i) {
            SeqEntry &e = entries.get()[i];
            if (inArena(e.name)) continue;
            e.name = put(e.name, std::strlen(e.name) + 1);
            if (e.comment) e.comment = put(e.comment, std::strlen(e.comment) + 1);
            const auto length = static_cast<std::size_t>(e.length);
            e.bases = put(e.bases, length);
            if (e.quals) e.quals = reinterpret_cast<int8_t *>(put(e.quals, length));
        }
        releaseHeld();
        return true;
    }

    bool reserveStitch(std::size_t need, const char *&keep) noexcept {
        if (stitch_cap >= need) return true;
        const std::size_t cap = std::max(need, stitch_cap + stitch_cap / 2);
        const uintptr_t old = address(stitch.get());
        const bool inside =
            !in_block && keep && address(keep) >= old && address(keep) < old + stitch_cap;
        if (!fast::resize(stitch, cap)) return false;
        stitch_cap = cap;
        if (inside) keep = moved(keep, old, address(stitch.get()));
        return true;
    }

    // Moves the window on to the next block of text, keeping [from, end) in front of it (an
    // entry that may go on), or nothing when from is null. False on a failure. At the end of
    // the text the window keeps what it kept, alone, and becomes final.
    bool advance(const char *from, char *&w, int32_t count) noexcept {
        // The taker holds at most most_held + 2 blocks: the held ones, the window's and the next.
        if (held >= most_held && !relocate(w, count)) {
            fail("out of memory");
            return false;
        }
        const std::size_t carry = from ? static_cast<std::size_t>(end - from) : 0;
        // Kept text starts an entry, so a line; otherwise the last byte read tells.
        const char lead = from ? '\n' : end[-1];
        fast::Input::Chunk block;
        int64_t got = in.take(block);
        // Where the next window starts in the text; a span's text before its first entry is
        // passed over.
        int64_t next_at = window_at + ((from ? from : end) - base);
        while (skip_text > 0 && got > 0) {
            const int64_t cut = std::min<int64_t>(skip_text, static_cast<int64_t>(block.size));
            skip_text -= cut;
            next_at += cut;
            if (cut == static_cast<int64_t>(block.size)) {
                in.giveBack();
                got = in.take(block);
                continue;
            }
            block.data += cut;
            block.size -= static_cast<std::size_t>(cut);
        }
        if (got <= 0) {
            if (got < 0) {
                fail("%s", in.why());
                return false;
            }
            final = true;
            r = from ? from : end;
            return true;
        }
        if (carry < headroom) {
            char *to = block.data - carry;
            if (carry > 0) std::memcpy(to, from, carry);
            to[-1] = lead;
            leaveBlock();
            in_block = true;
            window_at = next_at;
            setWindow(to, block.data + block.size);
            return true;
        }
        // A long entry: it goes into `stitch` with at least as much text after it as it holds,
        // so that an entry of any length is read again only a few times. The blocks it takes
        // go back as soon as they are copied, so none may be held before them.
        std::size_t length = 1 + carry;
        if (!relocate(w, count) || !reserveStitch(length + block.size + 1, from)) {
            in.giveBack();
            fail("out of memory");
            return false;
        }
        std::memmove(stitch.get() + 1, from, carry);
        stitch.get()[0] = lead;
        leaveBlock();
        for (;;) {
            std::memcpy(stitch.get() + length, block.data, block.size);
            length += block.size;
            in.giveBack();
            if (length - 1 - carry >= carry) break;
            got = in.take(block);
            if (got < 0) {
                fail("%s", in.why());
                return false;
            }
            if (got == 0) {
                final = true;
                break;
            }
            const char *none = nullptr;
            if (!reserveStitch(length + block.size + 1, none)) {
                in.giveBack();
                fail("out of memory");
                return false;
            }
        }
        window_at = next_at;
        setWindow(stitch.get() + 1, stitch.get() + length);
        return true;
    }

    // Makes room for `need` more bytes of output after w, moving the batch's entries along with
    // the buffer.
    bool reserveArena(char *&w, int32_t count, std::size_t need) noexcept {
        const std::size_t used = static_cast<std::size_t>(w - arena.get());
        if (arena_cap - used >= need) return true;
        const std::size_t cap = std::max(arena_cap * 2, used + need);
        const uintptr_t old = address(arena.get());
        const std::size_t old_cap = arena_cap;
        if (!fast::resize(arena, cap)) return false;
        arena_cap = cap;
        const uintptr_t now = address(arena.get());
        // Entries read in place point into blocks, and stay; an empty field may point at the
        // buffer's end.
        for (int32_t i = 0; i < count; ++i) {
            SeqEntry &e = entries.get()[i];
            e.name = movedIfIn(e.name, old, old_cap, now);
            e.comment = movedIfIn(e.comment, old, old_cap, now);
            e.bases = movedIfIn(e.bases, old, old_cap, now);
            e.quals = movedIfIn(e.quals, old, old_cap, now);
        }
        w = arena.get() + used;
        return true;
    }

    bool reserveEntries(int32_t count) noexcept {
        if (static_cast<std::size_t>(count) < entries_cap) return true;
        const std::size_t cap = std::max<std::size_t>(64, entries_cap * 2);
        if (!fast::resize(entries, cap) || !fast::resize(lengths, cap)) return false;
        entries_cap = cap;
        return true;
    }

    // The lines of an entry that is read in place.
    struct Shape {
        const char *header_end;  // the end of the header's text: its line feed, or a carriage
                                 // return before it
        const char *bases;
        const char *bases_end;
        const char *quals;  // nullptr for FASTA
        const char *quals_end;
        const char *next;  // where the entry ends
        bool kept() const noexcept {
            return (!quals || quals_end - quals == bases_end - bases) &&
                   bases_end - bases <= INT32_MAX;
        }
    };

    // Whether the entry whose mark is at h has one of the shapes read in place, and ends where
    // readEntry would end it, short of the window's end (unless that is the text's) and of any
    // zero byte: a FASTQ entry of one line of bases, a "+" line and one line of quality letters
    // (no blank among their first 20) followed by a line that starts with "@" (unless it has
    // fewer letters than bases, when readEntry reads on) or by the text's end; a FASTA entry of
    // one line of bases followed by a line that starts with ">" or "+", or by the text's end.
    // Looks only: nothing is written.
    bool inPlace(const char *h, Shape &shape) noexcept {
        if (!in_block) return false;
        // Line ends found by the scan are line feeds or zero bytes (the window's end is one); a
        // line start that holds a zero byte is the window's end or a zero byte in the text.
        const auto line = [this](const char *p) {
            const char *lf = lines.next(p);
            return *lf == '\n' ? lf : nullptr;
        };
        const auto last = [this](const char *p) { return p == end && final; };
        // A carriage return before a line feed, or before the text's end, ends the line too.
        const auto text = [](const char *start, const char *stop) {
            return fast::textEnd(start, stop, true);
        };
        const char *lf = line(h);
        if (!lf) return false;
        shape.header_end = text(h + 1, lf);
        shape.bases = lf + 1;
        const char b = *shape.bases;
        if (b == '+' || b == '>' || b == '\n' || b == 0 || (b == '\r' && shape.bases[1] == '\n'))
            return false;
        if (!(lf = line(shape.bases))) return false;
        shape.bases_end = text(shape.bases, lf);
        const char *after = lf + 1;
        if (*h == '>') {
            shape.quals = shape.quals_end = nullptr;
            shape.next = after;
            return *after == '>' || *after == '+' || last(after);
        }
        if (*after != '+') return false;
        const char *plus_end = line(after);
        if (!plus_end) return false;
        shape.quals = plus_end + 1;
        if (*shape.quals == 0) return false;
        lf = lines.next(shape.quals);
        if (*lf == 0) {
            // The last line, without a line feed.
            if (!last(lf)) return false;
            shape.quals_end = text(shape.quals, end);
            shape.next = end;
        } else {
            shape.quals_end = text(shape.quals, lf);
            shape.next = lf + 1;
            if (*shape.next == '@') {
                // With fewer letters than bases, a line that starts with "@" is more quality.
                if (shape.quals_end - shape.quals < shape.bases_end - shape.bases) return false;
            } else if (!last(shape.next)) {
                return false;
            }
        }
        // A blank among the first 20 letters selects the numeric reading.
        const char *const window =
            shape.quals_end - shape.quals > 20 ? shape.quals + 20 : shape.quals_end;
        return fast::findBlank(shape.quals, window) == window;
    }

    // Fills `out` with the entry found by inPlace(), ending its name and comment with zero bytes
    // and turning its quality letters into values where they stand.
    static fast::HeaderLengths place(const char *h, const Shape &shape, SeqEntry &out) noexcept {
        char *const name = const_cast<char *>(h) + 1;
        char *const header_end = const_cast<char *>(shape.header_end);
        char *const blank = fast::findBlank(name, header_end);
        const fast::Header header{name, blank < header_end ? blank + 1 : nullptr, blank - name};
        *blank = 0;
        *header_end = 0;
        char *const bases = const_cast<char *>(shape.bases);
        const int64_t length = shape.bases_end - shape.bases;
        char *const quals = const_cast<char *>(shape.quals);
        if (quals) fast::phredCopy(quals, quals, static_cast<size_t>(length));
        fast::fillRecord(out, header, bases, length, quals, !quals);
        out.aux = 0;
        out.aux_text = nullptr;
        // No zero byte in the line: the lengths are those of its parts.
        return {static_cast<int32_t>(header.name_len),
                header.comment ? static_cast<int32_t>(header_end - header.comment) : 0};
    }

    // Reads entries into the batch until it holds max_entries, or the next would take its text
    // past `limit` bytes (the first never does), or the text ends or fails. Returns their number.
    int32_t fill(int64_t limit, int32_t max_entries) noexcept {
        if (!sniffed && !sniff()) return 0;
        return bam ? fillBam(limit, max_entries) : fillText(limit, max_entries);
    }

    // The batch that the last fill() made.
    SeqEntry *batch() noexcept { return bam ? bam->entries() : entries.get(); }

    // Takes the first block, and enough after it for the BAM magic to tell. The window then
    // holds the text from its start, as the first fillText() would have left it.
    bool sniff() noexcept {
        sniffed = true;
        char *w = arena.get();
        while (end - base < 4 && !final)
            if (!advance(base, w, 0)) return false;
        if (!fast::isBam(base, static_cast<std::size_t>(end - base))) return true;
        if (watch || discard > 0 || remaining != INT64_MAX) {
            fail("BAM data is read in order: it has no record index");
            return false;
        }
        bam.reset(new (std::nothrow) fast::BamDecoder);
        if (!bam || !bam->feed(base, static_cast<std::size_t>(end - base))) {
            fail("out of memory");
            return false;
        }
        leaveBlock();
        setWindow(empty + 1, empty + 1);
        return true;
    }

    int32_t fillBam(int64_t limit, int32_t max_entries) noexcept {
        bam->startBatch();
        while (!failing) {
            const fast::BamDecoder::Status status = bam->decode(limit, max_entries, even);
            if (status == fast::BamDecoder::Status::full) break;
            if (status == fast::BamDecoder::Status::failed) {
                fail("%s", bam->why());
                break;
            }
            if (final) {
                if (!bam->drained()) fail("%s", bam->whyCut());
                break;
            }
            fast::Input::Chunk block;
            const int64_t got = in.take(block);
            if (got < 0) {
                fail("%s", in.why());
            } else if (got == 0) {
                final = true;
            } else {
                const bool fed = bam->feed(block.data, block.size);
                in.giveBack();
                if (!fed) fail("out of memory");
            }
        }
        return bam->count();
    }

    // Tells the watch of the entry whose mark is at h, when it asks for it (or the entry after a
    // span is being peeked at); false, the stream failing, when the watch finds it misplaced.
    bool tellWatch(const char *h) noexcept {
        const int64_t at = window_at + (h - base);
        if (at < watch_at && !peeking) return true;
        watch_at = watch->entryAt(at, number);
        if (watch_at >= 0) return true;
        fail("%s", watch->why());
        return false;
    }

    int32_t fillText(int64_t limit, int32_t max_entries) noexcept {
        int32_t count = 0;
        releaseHeld();
        char *w = arena.get();
        int64_t text = 0;
        while (count < max_entries && !failing) {
            const char *h = fast::findHeader(base - 1, r, end);
            if (h == end) {
                if (final) break;
                text += end - r;
                if (!advance(nullptr, w, count)) break;
                continue;
            }
            Shape shape;
            if (inPlace(h, shape)) {
                const char *q = shape.next;
                if (count > 0 && !(even && count % 2) && text + (q - r) > limit) break;
                if (!reserveEntries(count)) {
                    fail("out of memory");
                    break;
                }
                text += q - r;
                r = q;
                if (!tellWatch(h)) break;
                if (peeking) {
                    peeking = false;
                    break;
                }
                if (!shape.kept()) {
                    ++skipped;
                    continue;
                }
                ++number;
                if (discard > 0) {
                    --discard;
                    continue;
                }
                lengths.get()[count] = place(h, shape, entries.get()[count]);
                ++count;
                pinned = true;
                continue;
            }
            if (!reserveArena(w, count, static_cast<std::size_t>(end - h) + 1) ||
                !reserveEntries(count)) {
                fail("out of memory");
                break;
            }
            const char *q = h;
            char *const start = w;
            const fast::Entry e = fast::readEntry(q, w, end, zeros, true);
            if (q == end && !final) {
                w = start;
                text += h - r;
                r = h;
                if (!advance(h, w, count)) break;
                continue;
            }
            if (count > 0 && !(even && count % 2) && text + (q - r) > limit) {
                w = start;
                break;
            }
            text += q - r;
            r = q;
            if (!tellWatch(h)) {
                w = start;
                break;
            }
            if (peeking) {
                // The entry after a span's last, read only to tell the watch where it is.
                peeking = false;
                w = start;
                break;
            }
            if (!e.kept()) {
                ++skipped;
                w = start;
                continue;
            }
            ++number;
            if (discard > 0) {
                --discard;
                w = start;
                continue;
            }
            SeqEntry &out = entries.get()[count];
            fast::fillRecord(out, e.header, e.bases, e.length, e.quals, e.fasta);
            out.aux = 0;
            out.aux_text = nullptr;
            // A zero byte in the header line ends the name or comment for strlen().
            lengths.get()[count++] = {
                static_cast<int32_t>(std::strlen(out.name)),
                out.comment ? static_cast<int32_t>(std::strlen(out.comment)) : 0};
        }
        arena_used = static_cast<std::size_t>(w - arena.get());
        last_count = count;
        return count;
    }
};

namespace fast {

FastqStream *openStream(const char *path, int64_t batch_bytes, int32_t threads,
                        std::size_t block_bytes) noexcept {
    return openStreamFrom(path, batch_bytes, threads, block_bytes, StreamStart{});
}

FastqStream *failedStream(const char *why) noexcept {
    FastqStream *s = new (std::nothrow) FastqStream(FAST_STREAM_BATCH_BYTES);
    if (!s) {
        errno = ENOMEM;
        return nullptr;
    }
    s->fail("%s", why);
    return s;
}

FastqStream *sourcedStream(std::unique_ptr<BatchSource> source) noexcept {
    FastqStream *s = new (std::nothrow) FastqStream(FAST_STREAM_BATCH_BYTES);
    if (!s) {
        errno = ENOMEM;
        return nullptr;
    }
    s->source = std::move(source);
    return s;
}

BatchSource *sourceOf(FastqStream *stream) noexcept {
    return stream->source.get();
}

bool swapBatch(FastqStream *s, BatchBuffers &buffers) noexcept {
    // Entries read in place point into blocks that the stream gives back at its next batch:
    // their text moves into the batch's own buffer first.
    char *w = s->arena.get() + s->arena_used;
    if (s->bam || !s->relocate(w, s->last_count)) return false;
    SeqEntry *entries = s->entries.release();
    char *text = s->arena.release();
    s->entries.reset(buffers.entries);
    s->arena.reset(buffers.text);
    std::swap(s->entries_cap, buffers.entries_cap);
    std::swap(s->arena_cap, buffers.text_cap);
    buffers.entries = entries;
    buffers.text = text;
    // The header lengths go with the entries' count: room for as many as the new buffer holds.
    if (s->entries_cap > 0 && !fast::resize(s->lengths, s->entries_cap)) {
        s->entries_cap = 0;
        return false;
    }
    return true;
}

int64_t streamTextAt(const FastqStream *stream) noexcept {
    return stream->window_at + (stream->end - stream->base);
}

FastqStream *openStreamFrom(const char *path, int64_t batch_bytes, int32_t threads,
                            std::size_t block_bytes, const StreamStart &start) noexcept {
    if (!path || batch_bytes < 0 || threads < 0) {
        errno = EINVAL;
        return nullptr;
    }
    const int64_t batch = batch_bytes > 0 ? batch_bytes : FAST_STREAM_BATCH_BYTES;
    std::unique_ptr<FastqStream> s(new (std::nothrow) FastqStream(batch));
    if (!s) {
        if (start.owns_watch) delete start.watch;
        errno = ENOMEM;
        return nullptr;
    }
    if (start.owns_watch) s->owned_watch.reset(start.watch);
    if (!s->in.open(path, true)) return nullptr;
    if (start.points && !s->in.observe(start.points)) return nullptr;
    if (start.point) {
        if (!s->in.startAt(*start.point)) return nullptr;
        s->window_at = start.point->text;
        s->skip_text = start.entry_text - start.point->text;
    }
    s->number = start.number;
    s->discard = start.discard;
    s->remaining = start.count >= 0 ? start.count : INT64_MAX;
    s->watch = start.watch;
    s->watch_at = start.watch ? start.watch_from : INT64_MAX;
    s->peek = start.watch && start.peek;
    // The taker holds two blocks while it moves from one to the next; the others are filled.
    Input::AheadOptions options = s->in.aheadFor(threads);
    options.slot = block_bytes > 0 ? block_bytes
                                   : static_cast<std::size_t>(std::min<int64_t>(
                                         std::max<int64_t>(batch, kLeastBlock), kMostBlock));
    s->headroom = std::max<std::size_t>(options.slot / 4, 64);
    options.headroom = s->headroom;
    // A batch's text spans its size in blocks and the parts of two more.
    s->most_held = std::min(kMostHeld, static_cast<std::size_t>(batch) / options.slot + 2);
    options.slots += s->most_held;
    if (!s->in.readAhead(options)) {
        errno = ENOMEM;
        return nullptr;
    }
    return s.release();
}

const HeaderLengths *headerLengths(const FastqStream *stream) noexcept {
    // BAM records and interleaved mates are not in the order the lengths were kept in, and the
    // batches of spans read on helpers are the helpers' streams'.
    return stream->bam || stream->even || stream->source ? nullptr : stream->lengths.get();
}

}  // namespace fast

namespace {

// One stream of mates in turn: entries 2i and 2i + 1 of the text are a pair. The first mates
// are moved to the front of the batch, the second into `mates`.
int32_t readInterleaved(FastqStream &s, SeqEntry **first_entries, SeqEntry **second_entries) {
    // A stream that reads its spans on helpers hands out batches of its own cut, which need
    // not end between mates: mates are read in order.
    if (s.source) {
        FastqStream *in_order = s.source->inOrder();
        return in_order ? readInterleaved(*in_order, first_entries, second_entries) : -1;
    }
    if (s.state != 0 || s.failed()) return s.state < 0 ? -1 : 0;
    s.even = true;
    const int32_t most = s.most() >= 2 ? s.most() & ~1 : s.most();
    const int32_t n = s.fill(s.batch_bytes, most);
    SeqEntry *const batch = s.batch();
    int32_t pairs = n / 2;
    for (int32_t i = 0; i < pairs; ++i) {
        const SeqEntry &x = batch[2 * i], &y = batch[2 * i + 1];
        if (!fast::namesPair(x.name, y.name)) {
            const long long at = 2 * (s.delivered + i) + 1;
            s.fail("entries %lld and %lld have unpaired names: \"%.100s\" and \"%.100s\"", at,
                   at + 1, x.name, y.name);
            pairs = i;
            break;
        }
    }
    if (pairs == n / 2 && n % 2 && !s.failing)
        s.fail("entry %lld (\"%.100s\") has no mate: the file ends after it",
               static_cast<long long>(2 * (s.delivered + pairs) + 1), batch[n - 1].name);
    if (pairs == 0) {
        if (n == 0 && (s.endsShort() || !s.peekAfter())) return -1;
        if (s.failed()) return -1;
        s.state = 1;
        return 0;
    }
    if (static_cast<std::size_t>(pairs) > s.mates_cap) {
        if (!fast::resize(s.mates, static_cast<std::size_t>(pairs))) {
            s.fail("out of memory");
            s.failed();
            return -1;
        }
        s.mates_cap = static_cast<std::size_t>(pairs);
    }
    for (int32_t i = 0; i < pairs; ++i) {
        s.mates.get()[i] = batch[2 * i + 1];
        batch[i] = batch[2 * i];
    }
    *first_entries = batch;
    *second_entries = s.mates.get();
    s.delivered += pairs;
    s.spent(2 * pairs);
    return pairs;
}

}  // namespace

extern "C" {

FastqStream *openFastqStream(const char *path, int64_t batch_bytes, int32_t threads) {
    if (FastqStream *indexed = fast::openIndexedStream(path, batch_bytes, threads)) return indexed;
    return fast::openStream(path, batch_bytes, threads, 0);
}

int32_t readFastqBatch(FastqStream *stream, SeqEntry **entries) {
    if (!stream || !entries) {
        errno = EINVAL;
        return -1;
    }
    if (stream->source) return stream->source->next(entries);
    if (stream->state != 0 || stream->failed()) return stream->state < 0 ? -1 : 0;
    const int32_t n = stream->fill(stream->batch_bytes, stream->most());
    if (n > 0) {
        *entries = stream->batch();
        stream->delivered += n;
        stream->spent(n);
        return n;
    }
    if (stream->endsShort() || !stream->peekAfter()) return -1;
    if (stream->failed()) return -1;
    stream->state = 1;
    return 0;
}

int32_t readFastqPairBatch(FastqStream *first, FastqStream *second, SeqEntry **first_entries,
                           SeqEntry **second_entries) {
    if (!first || !second || !first_entries || !second_entries) {
        errno = EINVAL;
        return -1;
    }
    if (first == second) return readInterleaved(*first, first_entries, second_entries);
    if (first->source) return first->source->nextPair(first, second, first_entries, second_entries);
    if (second->source)
        return second->source->nextPair(first, second, first_entries, second_entries);
    FastqStream *const streams[] = {first, second};
    SeqEntry *entries[2];
    const int32_t n = readFastqBatches(streams, 2, entries);
    if (n > 0) {
        *first_entries = entries[0];
        *second_entries = entries[1];
    }
    return n;
}

int32_t readFastqBatches(FastqStream *const *streams, int32_t n, SeqEntry **entries) {
    if (!streams || !entries || n < 1) {
        errno = EINVAL;
        return -1;
    }
    if (!fast::distinctHandles(streams, n)) {
        errno = EINVAL;
        return -1;
    }
    if (n == 2 && (streams[0]->source || streams[1]->source))
        return streams[0]->source
                   ? streams[0]->source->nextPair(streams[0], streams[1], &entries[0], &entries[1])
                   : streams[1]->source->nextPair(streams[0], streams[1], &entries[0], &entries[1]);
    if (n == 1 && streams[0]->source) return streams[0]->source->next(&entries[0]);
    // Three or more files in step, of which some read spans on helpers: those are read in order.
    if (std::any_of(streams, streams + n,
                    [](const FastqStream *t) { return t->source != nullptr; })) {
        std::vector<FastqStream *> in_order;
        try {
            in_order.assign(streams, streams + n);
        } catch (const std::bad_alloc &) {
            errno = ENOMEM;
            return -1;
        }
        for (FastqStream *&t : in_order)
            if (t->source && !(t = t->source->inOrder())) return -1;
        return readFastqBatches(in_order.data(), n, entries);
    }
    FastqStream &a = *streams[0];
    char spare[16];
    // Any stream's failure is every stream's, told by the first.
    const auto fail = [&]() {
        for (int32_t i = 1; i < n; ++i) {
            FastqStream &b = *streams[i];
            if (b.failing && !a.failing)
                a.fail("%s file: %s", fast::fileOrdinal(i, spare), b.error);
        }
        for (int32_t i = 0; i < n; ++i) {
            streams[i]->failing = true;
            streams[i]->failed();
        }
        return -1;
    };
    for (int32_t i = 0; i < n; ++i)
        if (streams[i]->state < 0 || streams[i]->failing) return fail();
    if (a.state > 0) return 0;
    const int32_t count = a.fill(a.batch_bytes, a.most());
    int32_t paired = count;
    bool others_left = false;
    for (int32_t i = 1; i < n; ++i) {
        FastqStream &b = *streams[i];
        // At the end of the first text, every other must end too (at the end of its span, for
        // a span).
        const int32_t m = b.fill(INT64_MAX, count > 0 ? count : (b.remaining > 0 ? 1 : 0));
        if (count == 0) {
            others_left |= m > 0;
            continue;
        }
        int32_t in_step = std::min(paired, m);
        for (int32_t k = 0; k < in_step; ++k) {
            const SeqEntry &x = a.batch()[k], &y = b.batch()[k];
            if (!fast::namesPair(x.name, y.name)) {
                a.fail(FAST_UNPAIRED_IN_FORMAT, static_cast<long long>(a.delivered + k + 1), x.name,
                       y.name, fast::fileOrdinal(i, spare));
                in_step = k;
                break;
            }
        }
        if (m < count && !b.failing)
            a.fail("the %s file ended first, after %lld entries", fast::fileOrdinal(i, spare),
                   static_cast<long long>(a.delivered + m));
        paired = std::min(paired, in_step);
    }
    if (count == 0) {
        for (int32_t i = 0; i < n; ++i)
            if (streams[i]->endsShort() || !streams[i]->peekAfter()) return fail();
        if (!a.failing && others_left)
            a.fail("the first file ended first, after %lld entries",
                   static_cast<long long>(a.delivered));
        for (int32_t i = 0; i < n; ++i)
            if (streams[i]->failing) return fail();
        for (int32_t i = 0; i < n; ++i) streams[i]->state = 1;
        return 0;
    }
    // The entries in step before a fault come first; the fault is reported by the next call.
    if (paired == 0) return fail();
    for (int32_t i = 0; i < n; ++i) {
        entries[i] = streams[i]->batch();
        streams[i]->delivered += paired;
        streams[i]->spent(paired);
    }
    return paired;
}

const char *fastqStreamError(const FastqStream *stream) {
    if (stream && stream->source) return stream->source->error();
    return stream && stream->state < 0 ? stream->error : nullptr;
}

int64_t fastqStreamSkipped(const FastqStream *stream) {
    if (stream && stream->source) return stream->source->skipped();
    return stream ? stream->skipped : 0;
}

void closeFastqStream(FastqStream *stream) {
    delete stream;
}

}  // extern "C"
