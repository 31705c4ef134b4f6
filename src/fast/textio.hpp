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

// Files are read with requests of at most this many bytes.
constexpr int64_t kReadChunk = 1024000000;

// The size found by seeking to the end (the stream is rewound), or -1 when the stream cannot
// tell a position, as for a pipe.
int64_t fileSize(std::FILE *f) noexcept;

// Reads exactly `size` bytes into `buf` in chunks; false on a short read.
bool readAll(std::FILE *f, char *buf, int64_t size) noexcept;

// How the caller-storage readers word their failures.
struct LoadMessages {
    const char *empty;       // printed for a file of 0 bytes
    bool path_before_short;  // a short read prints the path on a line of its own first
};

// Reads the file into the caller's buffer (first clearing clear_len bytes) and closes the
// text with a zero byte. Returns the size, or -1 after printing why nothing can be decoded
// (missing, empty, unseekable or short file).
int64_t loadIntoBuffer(const char *path, char *buffer, uint64_t clear_len,
                       const LoadMessages &messages) noexcept;

// Prints a line on standard error after what is pending on standard output, so that a
// reader of both streams sees the messages in the order they were made.
void warnLine(const char *format, ...) noexcept __attribute__((format(printf, 1, 2)));

// The layout pass: checks the line layout of text[0, size) and returns the segment count.
// A header or "+" line whose line feed is the last byte prints "Corrupt input file [N]."
// with header_end_msg or plus_end_msg as N.
int32_t layoutPass(const char *text, int64_t size, int header_end_msg, int plus_end_msg) noexcept;

}  // namespace fast

#endif
