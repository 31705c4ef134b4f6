#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "fast.h"
#include "fastq/bam.hpp"
#include "fastq/scan.hpp"
#include "fastq/textio.hpp"

namespace fast {

void warnLine(const char *format, ...) noexcept {
    std::fflush(stdout);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

int64_t loadIntoBuffer(const char *path, char *buffer, uint64_t clear_len,
                       const LoadMessages &messages, LayoutPass &layout) noexcept {
    Input in;
    if (!in.open(path)) {
        std::puts("error: file not found");
        return -1;
    }
    if (!in.regular()) {
        std::puts("error: file size unknown (not a seekable file)");
        return -1;
    }
    // The buffer is sized from the file, so a compressed file's text cannot be known to fit.
    if (in.compressed()) {
        char magic[4];
        int64_t got = 0;
        for (int64_t n = 1; in.readable() && got < 4 && n > 0; got += n)
            n = std::max<int64_t>(in.read(magic + got, sizeof magic - static_cast<size_t>(got)), 0);
        if (isBam(magic, static_cast<size_t>(got)))
            std::printf("error: %s: %s\n", path, kBamRefused);
        else if (in.readable())
            std::printf("error: %s is %s-compressed; decodeFastq2 reads compressed files\n", path,
                        in.format()->name);
        else
            std::printf("error: %s is %s-compressed; this build reads %s text\n", path,
                        in.format()->name, readableFormats());
        return -1;
    }
    const int64_t size = in.textSize();
    adviseHugePages(buffer, static_cast<size_t>(size) + 1);
    Prefault prefault(buffer, static_cast<size_t>(size) + 1);
    std::memset(buffer, 0, clear_len);
    if (size == 0) {
        std::puts(messages.empty);
        buffer[0] = 0;
        return -1;
    }
    layout.start(buffer, size);
    if (!readAll(in, buffer, size, [&](int64_t, int64_t read) { layout.advance(read); })) {
        if (messages.path_before_short) std::puts(path);
        std::puts("error: file is too small");
        return -1;
    }
    buffer[size] = 0;
    if (isBam(buffer, static_cast<size_t>(size))) {
        std::printf("error: %s: %s\n", path, kBamRefused);
        return -1;
    }
    return size;
}

namespace {

constexpr int64_t kHugePage = int64_t{1} << 21;
// A growing block is grown before a read would get less than this (or an eighth of a small
// block, so that a small guess is read into before it grows); a block sized by a good guess has
// this much to spare, so that the read that finds the end needs no growth.
constexpr int64_t kLeastRead = int64_t{1} << 16;
// Compressed FASTQ inflates to a few times its size; a trailer that records more than this is
// not trusted ahead of the data.
constexpr int64_t kTrustedRatio = 8;
// A compressed text expected to be at least this large is decompressed by helper threads (BGZF
// blocks on a helper a core) while this one copies and counts what came before; a smaller one
// does not repay the threads.
constexpr int64_t kAheadFrom = int64_t{8} << 20;

// Grows the block to at least `need` bytes, by a quarter at least, and to whole huge pages once
// it is that large; false when it cannot.
bool grow(MallocPtr<char> &text, int64_t &capacity, int64_t need) noexcept {
    int64_t next = capacity + capacity / 4;
    if (next < need) next = need;
    if (next >= kHugePage) next = (next + kHugePage - 1) & ~(kHugePage - 1);
    if (!resize(text, static_cast<size_t>(next))) return false;
    adviseHugePages(text.get(), static_cast<size_t>(next));
    capacity = next;
    return true;
}

}  // namespace

LoadEnd loadText(Input &in, MallocPtr<char> &text, int64_t &size,
                 void (*on_piece)(void *, const char *, int64_t, int64_t), void *context) noexcept {
    size = 0;
    const int64_t known = in.textSize();
    if (known == 0) return LoadEnd::empty;
    // An unknown size starts from a guess: the inflated size the gzip trailer records, or a
    // few times the compressed size, or a few MiB for a pipe.
    int64_t capacity = known > 0 ? known + 1 : in.sizeHint();
    text.reset(static_cast<char *>(std::malloc(static_cast<size_t>(capacity))));
    if (!text) return LoadEnd::no_memory;
    adviseHugePages(text.get(), static_cast<size_t>(capacity));
    // Faulted in ahead of the reader only where the size is known or recorded: another guess
    // may be far too large, and what is never touched costs no memory. A recorded size is
    // trusted up to a ratio that real text reaches, so that a damaged record costs little, and
    // twice as far each time the text reaches half of what is trusted.
    int64_t ahead = known > 0 ? capacity : 0;
    if (in.sizeHintRecorded()) ahead = std::min(capacity, kTrustedRatio * in.fileSize());
    std::optional<Prefault> prefault;
    prefault.emplace(text.get(), static_cast<size_t>(ahead));
    // The helpers put the text straight into the block, short of where it would grow (and
    // move): a block grows only once the reader has passed that point. Whatever ends the
    // loading, they are done before the caller can free the block.
    struct StopAhead {
        Input &in;
        ~StopAhead() { in.stopAhead(); }
    } stop_ahead{in};
    if (in.compressed() && in.sizeHint() >= kAheadFrom) {
        Input::AheadOptions options = in.aheadFor(0);
        options.place = text.get();
        options.place_size = static_cast<size_t>(capacity - 1 - kLeastRead);
        in.readAhead(options);
    }
    if (known > 0) {
        char *const base = text.get();
        if (!readAll(in, base, known,
                     [&](int64_t from, int64_t to) { on_piece(context, base, from, to); }))
            return LoadEnd::short_read;
        size = known;
    } else {
        for (;;) {
            // One byte stays free for the closing zero.
            int64_t room = capacity - 1 - size;
            if (room < std::min(kLeastRead, capacity / 8 + 1)) {
                // The block may move: the helper must be done with the old place first, and the
                // guess that sized it earns no more faulting ahead.
                prefault.reset();
                ahead = 0;
                if (!grow(text, capacity, size + 1 + std::min(kReadPiece, capacity)))
                    return LoadEnd::no_memory;
                room = capacity - 1 - size;
            } else if (ahead > 0 && size > ahead / 2 && ahead < capacity) {
                ahead = std::min(capacity, 2 * ahead);
                prefault.emplace(text.get() + size, static_cast<size_t>(ahead - size));
            }
            const int64_t got =
                in.read(text.get() + size, static_cast<size_t>(std::min(room, kReadPiece)));
            if (got < 0) return LoadEnd::bad_input;
            if (got == 0) break;
            on_piece(context, text.get(), size, size + got);
            size += got;
        }
        if (size == 0) return LoadEnd::empty;
        // Trimming a block returns its unused tail, which was never touched.
        resize(text, static_cast<size_t>(size) + 1);
    }
    text.get()[size] = 0;
    return LoadEnd::loaded;
}

void LayoutPass::run(const char *end, bool final) noexcept {
    const char *const last = text_ + size_ - 1;
    const char *p = text_ + pos_;
    while (!done_ && p < end) {
        const char *lf = findByte(p, '\n', end);
        if (state_ == State::header) count_ += countMarks(p, lf ? lf : end);
        if (!lf) {
            p = end;
            break;
        }
        if (lf == last) {
            if (state_ == State::header) std::printf("Corrupt input file [%d].\n", header_end_msg_);
            if (state_ == State::plus) std::printf("Corrupt input file [%d].\n", plus_end_msg_);
            done_ = true;
            break;
        }
        const char next = lf[1];
        if (state_ == State::header || state_ == State::plus) {
            state_ = state_ == State::header ? State::sequence : State::quality;
        } else if (isMark(next)) {
            state_ = State::header;
        } else if (state_ == State::sequence && next == '+') {
            state_ = State::plus;
        }
        p = lf + 1;
    }
    pos_ = p - text_;
    if (final) done_ = true;
}

int32_t LayoutPass::finish() noexcept {
    run(text_ + size_, true);
    return count_ > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count_);
}

}  // namespace fast

extern "C" int32_t extractFastq(const char *path, char *buffer, uint64_t clear_len) {
    static const fast::LoadMessages messages{"error: no data in file", false};
    fast::LayoutPass layout(2, 3);
    if (fast::loadIntoBuffer(path, buffer, clear_len, messages, layout) < 0) return 0;
    if (!fast::isMark(buffer[0]))
        fast::warnLine("Corrupt input file %s *dp=>%c< [1].\n", path, buffer[0]);
    const int32_t count = layout.finish();
    if (count > 0) return count;
    std::puts("error: no segments found");
    return 0;
}
