#include "record_writer.hpp"

#include <cerrno>
#include <cstring>

namespace clean_replace {

namespace {

// The longest formatted columns, nine times " -2147483648" and the line feed, and the slack
// that putInt() writes beyond its digits.
constexpr std::size_t kColumnsMax = kColumns * 12 + 1 + 16;

constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the decimal digits of `value`, and 16 bytes in all: the caller leaves that much room.
char *putInt(char *p, std::int32_t value) {
    std::uint32_t u = static_cast<std::uint32_t>(value);
    if (value < 0) {
        *p++ = '-';
        u = 0u - u;
    }
    char digits[32];
    char *const last = digits + 16;
    char *q = last;
    while (u >= 100) {
        unsigned pair = (u % 100) * 2;
        u /= 100;
        *--q = kPairs[pair + 1];
        *--q = kPairs[pair];
    }
    if (u >= 10) {
        *--q = kPairs[u * 2 + 1];
        *--q = kPairs[u * 2];
    } else {
        *--q = static_cast<char>('0' + u);
    }
    std::memcpy(p, q, 16);
    return p + (last - q);
}

}  // namespace

RecordWriter::RecordWriter(std::FILE *out, std::size_t capacity)
    : out_(out),
      capacity_(capacity < kColumnsMax ? kColumnsMax : capacity),
      buf_(new char[capacity_]) {}

void RecordWriter::drain() {
    if (used_ != 0 && error_ == 0 && std::fwrite(buf_.get(), 1, used_, out_) != used_)
        error_ = errno != 0 ? errno : EIO;
    used_ = 0;
}

void RecordWriter::append(const char *bytes, std::size_t size) {
    while (size > capacity_ - used_) {
        std::size_t part = capacity_ - used_;
        std::memcpy(buf_.get() + used_, bytes, part);
        used_ += part;
        bytes += part;
        size -= part;
        drain();
    }
    std::memcpy(buf_.get() + used_, bytes, size);
    used_ += size;
}

void RecordWriter::write(const LinkRecord &rec) {
    if (!rec.text.empty()) {
        append(rec.text.data(), rec.text.size());
        append("\n", 1);
        return;
    }
    const char *name = rec.name.data();
    const void *nul = std::memchr(name, '\0', rec.name.size());
    append(name, nul != nullptr ? static_cast<std::size_t>(static_cast<const char *>(nul) - name)
                                : rec.name.size());
    if (capacity_ - used_ < kColumnsMax) drain();
    char *p = buf_.get() + used_;
    for (std::int32_t col : rec.cols) {
        *p++ = ' ';
        p = putInt(p, col);
    }
    *p++ = '\n';
    used_ = static_cast<std::size_t>(p - buf_.get());
}

bool RecordWriter::flush() {
    drain();
    if (error_ == 0 && (std::fflush(out_) != 0 || std::ferror(out_)))
        error_ = errno != 0 ? errno : EIO;
    return error_ == 0;
}

}  // namespace clean_replace
