// Large-buffer byte source shared by the counting pass and the record scanner.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>

namespace fast {
class Input;
}

namespace clean_replace {

// Reads up to `size` bytes into `buf`: the number read, 0 at the end of the input, or -1 after a
// read error, with `why` pointed at its reason (text that lives as long as the source).
using ReadFunction = std::function<long long(char *buf, std::size_t size, const char *&why)>;

// Reads the text of an open input: a plain file or pipe as it stands, compressed data
// decompressed.
ReadFunction inputReader(fast::Input &input);

class ByteReader {
  public:
    static constexpr std::size_t kDefaultCapacity = std::size_t{1} << 16;

    explicit ByteReader(ReadFunction read, std::size_t capacity = kDefaultCapacity);

    // Reads the next window once the current one is used up (pos == end). False at the end of
    // the input and after a read error; both are final.
    bool refill();

    // The next byte without consuming it, or EOF.
    int peek() { return pos != end || refill() ? static_cast<unsigned char>(*pos) : EOF; }

    // The reason of the read error that ended the input, or nullptr.
    const char *error() const { return error_; }
    unsigned long long consumed() const {
        return base_ + static_cast<unsigned long long>(pos - buf_.get());
    }

    // Readable bytes after the window's end, so that a word-sized load at any byte of the window
    // stays inside the buffer.
    static constexpr std::size_t kPadding = 16;

    // The unread part of the window. *end is always '\0', so a token loop that stops on NUL
    // needs no bound check of its own.
    const char *pos;
    const char *end;

  private:
    ReadFunction read_;
    std::size_t capacity_;
    std::unique_ptr<char[]> buf_;
    unsigned long long base_ = 0;
    const char *error_ = nullptr;
    bool finished_ = false;
};

// The number of lines a loop of fgets(line, 2000, f) counts before end of file: a line of N
// bytes with its line feed counts ceil(N / 1999) times, a last line without one floor(N / 1999)
// times. NUL bytes are ordinary bytes. A read error ends the count as the end of the input does.
unsigned long long countTableLines(ByteReader &in);

}  // namespace clean_replace
