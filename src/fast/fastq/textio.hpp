// Reading a whole FASTQ/FASTA file into one buffer, and the four-state layout pass that the
// caller-storage decoders run over it.
#ifndef FAST_TEXTIO_HPP
#define FAST_TEXTIO_HPP

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <type_traits>

#include "input/input.hpp"

namespace fast {

struct FreeDeleter {
    void operator()(void *p) const noexcept { std::free(p); }
};
template <class T>
using MallocPtr = std::unique_ptr<T, FreeDeleter>;

// Moves the block to `count` elements with realloc(), its contents kept; false, with the block
// as it was, when that cannot be had.
template <class T>
bool resize(MallocPtr<T> &block, std::size_t count) noexcept {
    T *moved = static_cast<T *>(std::realloc(block.get(), count * sizeof(T)));
    if (!moved) return false;
    block.release();
    block.reset(moved);
    return true;
}

// Files are read in pieces of kReadPiece bytes, so that the pass that runs over each piece as
// it arrives finds it in the cache.
constexpr int64_t kReadPiece = int64_t{1} << 20;

// Reads exactly `size` bytes of text into `buf`, calling on_piece(from, to) after each piece
// with the range it filled; false when the text ends early or a read fails.
template <class OnPiece>
bool readAll(Input &in, char *buf, int64_t size, OnPiece &&on_piece) noexcept {
    for (int64_t offset = 0; offset < size;) {
        const int64_t want = size - offset < kReadPiece ? size - offset : kReadPiece;
        const int64_t got = in.read(buf + offset, static_cast<size_t>(want));
        if (got <= 0) return false;
        on_piece(offset, offset + got);
        offset += got;
    }
    return true;
}

// How reading a whole text into a new block ended.
enum class LoadEnd {
    loaded,
    empty,       // the text has no byte
    no_memory,   // the block could not be had or grown
    short_read,  // a regular file ended before its size
    bad_input,   // a read failed or the compressed data is bad: in.why() says which
};

// Reads the whole text of `in` into a new malloc() block advised for huge pages, closed by a
// zero byte, calling on_piece(text, from, to) for each piece as it arrives (`text` may move
// between calls while the block grows). A text of unknown size (a pipe, or compressed) goes
// into a block that grows by a quarter at a time and is trimmed at the end.
LoadEnd loadText(Input &in, MallocPtr<char> &text, int64_t &size,
                 void (*on_piece)(void *context, const char *text, int64_t from, int64_t to),
                 void *context) noexcept;

template <class OnPiece>
LoadEnd loadText(Input &in, MallocPtr<char> &text, int64_t &size, OnPiece &&on_piece) noexcept {
    using Callable = std::remove_reference_t<OnPiece>;
    return loadText(
        in, text, size,
        [](void *context, const char *t, int64_t from, int64_t to) {
            (*static_cast<Callable *>(context))(t, from, to);
        },
        &on_piece);
}

// The layout pass: checks the line layout of the text and counts segments, a piece at a time
// while the text arrives. A header or "+" line whose line feed is the last byte of the text
// prints "Corrupt input file [N]." with header_end_msg or plus_end_msg as N, from finish().
class LayoutPass {
  public:
    LayoutPass(int header_end_msg, int plus_end_msg) noexcept
        : header_end_msg_(header_end_msg), plus_end_msg_(plus_end_msg) {}
    void start(const char *text, int64_t size) noexcept {
        text_ = text;
        size_ = size;
    }
    // Runs over what it can judge of the first `available` bytes: a line feed is judged
    // together with the byte after it.
    void advance(int64_t available) noexcept { run(text_ + available - 1, false); }
    // Runs to the end of the text and returns the segment count.
    int32_t finish() noexcept;

  private:
    enum class State { header, sequence, plus, quality };
    void run(const char *end, bool final) noexcept;

    int header_end_msg_, plus_end_msg_;
    const char *text_ = nullptr;
    int64_t size_ = 0;
    int64_t pos_ = 0;
    State state_ = State::header;
    int64_t count_ = 0;
    bool done_ = false;
};

// How the caller-storage readers word their failures.
struct LoadMessages {
    const char *empty;       // printed for a file of 0 bytes
    bool path_before_short;  // a short read prints the path on a line of its own first
};

// Reads the file into the caller's buffer (first clearing clear_len bytes), running the layout
// pass over it as it arrives, and closes the text with a zero byte. Returns the size, or -1
// after printing why nothing can be decoded (missing, empty, unseekable or short file).
int64_t loadIntoBuffer(const char *path, char *buffer, uint64_t clear_len,
                       const LoadMessages &messages, LayoutPass &layout) noexcept;

// Prints a line on standard error after what is pending on standard output, so that a
// reader of both streams sees the messages in the order they were made.
void warnLine(const char *format, ...) noexcept __attribute__((format(printf, 1, 2)));

}  // namespace fast

#endif
