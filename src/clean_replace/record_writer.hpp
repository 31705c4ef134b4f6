// Output of surviving records, byte for byte what printf("%s %d %d %d %d %d %d %d %d %d\n")
// prints, through one fixed buffer.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>

#include "record_scanner.hpp"

namespace clean_replace {

class RecordWriter {
  public:
    static constexpr std::size_t kDefaultCapacity = std::size_t{1} << 15;

    explicit RecordWriter(std::FILE *out, std::size_t capacity = kDefaultCapacity);

    // The name is printed up to its first NUL byte, as %s prints it. A record whose text is
    // already in that form is copied as it stands.
    void write(const LinkRecord &rec);

    // Hands the buffered bytes to the stream and flushes it. False once any write has failed.
    bool flush();

    int error() const { return error_; }

  private:
    void append(const char *bytes, std::size_t size);
    void drain();

    std::FILE *out_;
    std::size_t capacity_;
    std::unique_ptr<char[]> buf_;
    std::size_t used_ = 0;
    int error_ = 0;
};

}  // namespace clean_replace
