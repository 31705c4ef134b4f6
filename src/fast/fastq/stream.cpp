// The streaming reader. A window of text moves over the blocks that the input layer reads ahead;
// each entry is read from it exactly as decodeFastq2 reads it, but into an output buffer of
// the batch's own, so the window's text stays as it was. An entry that reaches the window's end
// (the zero byte put there) may go on: unless the window ends where the text does, it is read
// again once the next block is behind it, moved into that block's headroom (or, when it is
// long, into a buffer of its own together with enough blocks after it).
#include "fastq/stream.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

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

    // The window: text [base, end), read up to r. *end is a zero byte; base[-1] is a line feed
    // when base starts a line. `final` once end is the end of the text.
    char empty[2] = {'\n', 0};
    char *base = empty + 1;
    char *end = empty + 1;
    const char *r = empty + 1;
    bool final = false;
    bool in_block = false;  // the window is a block taken from the input, not `stitch`
    fast::ZeroFinder zeros{empty + 1, empty + 1};
    fast::MallocPtr<char> stitch;
    std::size_t stitch_cap = 0;

    // The batch: its entries, and the text they point to.
    fast::MallocPtr<SeqEntry> entries;
    std::size_t entries_cap = 0;
    fast::MallocPtr<char> arena;
    std::size_t arena_cap = 0;

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
        zeros = fast::ZeroFinder(from, to);
    }

    // Gives back the block that the window was in, once its text is no longer needed.
    void leaveBlock() noexcept {
        if (in_block) in.giveBack();
        in_block = false;
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
    bool advance(const char *from) noexcept {
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
        // so that an entry of any length is read again only a few times.
        std::size_t length = 1 + carry;
        if (!reserveStitch(length + block.size + 1, from)) {
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
        if (!fast::resize(arena, cap)) return false;
        arena_cap = cap;
        const uintptr_t now = address(arena.get());
        for (int32_t i = 0; i < count; ++i) {
            SeqEntry &e = entries.get()[i];
            e.name = moved(e.name, old, now);
            e.comment = moved(e.comment, old, now);
            e.bases = moved(e.bases, old, now);
            e.quals = moved(e.quals, old, now);
        }
        w = arena.get() + used;
        return true;
    }

    bool reserveEntries(int32_t count) noexcept {
        if (static_cast<std::size_t>(count) < entries_cap) return true;
        const std::size_t cap = std::max<std::size_t>(64, entries_cap * 2);
        if (!fast::resize(entries, cap)) return false;
        entries_cap = cap;
        return true;
    }

    // Reads entries into the batch until it holds max_entries, or the next would take its text
    // past `limit` bytes (the first never does), or the text ends or fails. Returns their number.
    int32_t fill(int64_t limit, int32_t max_entries) noexcept {
        int32_t count = 0;
        char *w = arena.get();
        int64_t text = 0;
        while (count < max_entries && !failing) {
            const char *h = fast::findHeader(base - 1, r, end);
            if (h == end) {
                if (final) break;
                text += end - r;
                if (!advance(nullptr)) break;
                continue;
            }
            if (!reserveArena(w, count, static_cast<std::size_t>(end - h) + 1) ||
                !reserveEntries(count)) {
                fail("out of memory");
                break;
            }
            const char *q = h;
            char *const start = w;
            const fast::Entry e = fast::readEntry(q, w, end, zeros);
            if (q == end && !final) {
                w = start;
                text += h - r;
                r = h;
                if (!advance(h)) break;
                continue;
            }
            if (count > 0 && text + (q - r) > limit) {
                w = start;
                break;
            }
            text += q - r;
            r = q;
            const int64_t at = window_at + (h - base);
            if (at >= watch_at || peeking) {
                watch_at = watch->entryAt(at, number);
                if (watch_at < 0) {
                    fail("%s", watch->why());
                    w = start;
                    break;
                }
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
            SeqEntry &out = entries.get()[count++];
            fast::fillRecord(out, e.header, e.bases, e.length, e.quals, e.fasta);
            out.aux = 0;
            out.aux_text = nullptr;
        }
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

void swapBatch(FastqStream *s, BatchBuffers &buffers) noexcept {
    SeqEntry *entries = s->entries.release();
    char *text = s->arena.release();
    s->entries.reset(buffers.entries);
    s->arena.reset(buffers.text);
    std::swap(s->entries_cap, buffers.entries_cap);
    std::swap(s->arena_cap, buffers.text_cap);
    buffers.entries = entries;
    buffers.text = text;
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
    if (!s->in.readAhead(options)) {
        errno = ENOMEM;
        return nullptr;
    }
    return s.release();
}

}  // namespace fast

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
        *entries = stream->entries.get();
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
    if (!first || !second || first == second || !first_entries || !second_entries) {
        errno = EINVAL;
        return -1;
    }
    if (first->source) return first->source->nextPair(first, second, first_entries, second_entries);
    if (second->source)
        return second->source->nextPair(first, second, first_entries, second_entries);
    FastqStream &a = *first, &b = *second;
    const auto fail = [&]() {
        if (b.failing && !a.failing) a.fail("second file: %s", b.error);
        a.failing = b.failing = true;
        a.failed();
        b.failed();
        return -1;
    };
    if (a.state < 0 || b.state < 0 || a.failing || b.failing) return fail();
    if (a.state > 0) return 0;
    const int32_t n = a.fill(a.batch_bytes, a.most());
    // At the end of the first text, the second must end too (at the end of its span, for a
    // span).
    const int32_t m = b.fill(INT64_MAX, n > 0 ? n : (b.remaining > 0 ? 1 : 0));
    if (n == 0) {
        if (a.endsShort() || b.endsShort() || !a.peekAfter() || !b.peekAfter()) return fail();
        if (!a.failing && m > 0)
            a.fail("the first file ended first, after %lld entries",
                   static_cast<long long>(a.delivered));
        if (a.failing || b.failing) return fail();
        a.state = b.state = 1;
        return 0;
    }
    int32_t paired = std::min(n, m);
    for (int32_t i = 0; i < paired; ++i) {
        const SeqEntry &x = a.entries.get()[i], &y = b.entries.get()[i];
        if (!fast::namesPair(x.name, y.name)) {
            a.fail(FAST_UNPAIRED_FORMAT, static_cast<long long>(a.delivered + i + 1), x.name,
                   y.name);
            paired = i;
            break;
        }
    }
    if (m < n && !b.failing)
        a.fail("the second file ended first, after %lld entries",
               static_cast<long long>(a.delivered + m));
    // The pairs before a fault come first; the fault is reported by the next call.
    if (paired == 0) return fail();
    *first_entries = a.entries.get();
    *second_entries = b.entries.get();
    a.delivered += paired;
    b.delivered += paired;
    a.spent(paired);
    b.spent(paired);
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
