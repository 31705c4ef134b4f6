// Reading a whole FASTQ/FASTA file into one buffer, and the four-state layout pass that the
// caller-storage decoders run over it.
#ifndef FAST_TEXTIO_HPP
#define FAST_TEXTIO_HPP

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace fast {

struct FreeDeleter {
    void operator()(void *p) const noexcept { std::free(p); }
};
template <class T>
using MallocPtr = std::unique_ptr<T, FreeDeleter>;

struct FileCloser {
    void operator()(std::FILE *f) const noexcept { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens a file for reading; NULL also for a directory, which opens but has no text to give
// (its "size" found by seeking is no byte count).
std::FILE *openText(const char *path) noexcept;

// Files are read with requests of at most kReadChunk bytes; in practice of kReadPiece bytes,
// so that the pass that runs over each piece as it arrives finds it in the cache.
constexpr int64_t kReadChunk = 1024000000;
constexpr int64_t kReadPiece = int64_t{1} << 20;
static_assert(kReadPiece <= kReadChunk);

// The size found by seeking to the end (the stream is rewound), or -1 when the stream cannot
// tell a position, as for a pipe.
int64_t fileSize(std::FILE *f) noexcept;

// Reads exactly `size` bytes into `buf`, calling on_piece(from, to) after each piece with the
// range it filled; false on a short read.
template <class OnPiece>
bool readAll(std::FILE *f, char *buf, int64_t size, OnPiece &&on_piece) noexcept {
    for (int64_t offset = 0; offset < size;) {
        const int64_t want = size - offset < kReadPiece ? size - offset : kReadPiece;
        if (std::fread(buf + offset, 1, static_cast<size_t>(want), f) != static_cast<size_t>(want))
            return false;
        on_piece(offset, offset + want);
        offset += want;
    }
    return true;
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
