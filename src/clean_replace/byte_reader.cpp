#include "byte_reader.hpp"

#include <cerrno>
#include <cstring>

namespace clean_replace {

ReadFunction streamReader(std::FILE *stream) {
    return [stream](char *buf, std::size_t size) -> long long {
        std::size_t got = std::fread(buf, 1, size, stream);
        if (got == 0 && std::ferror(stream)) return -1;
        return static_cast<long long>(got);
    };
}

ByteReader::ByteReader(ReadFunction read, std::size_t capacity)
    : read_(std::move(read)), capacity_(capacity), buf_(new char[capacity + kPadding]()) {
    buf_[0] = '\0';
    pos = end = buf_.get();
}

bool ByteReader::refill() {
    base_ += static_cast<unsigned long long>(end - buf_.get());
    pos = end = buf_.get();
    buf_[0] = '\0';
    if (finished_) return false;
    long long got;
    do {
        errno = 0;
        got = read_(buf_.get(), capacity_);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        finished_ = true;
        if (got < 0) error_ = errno != 0 ? errno : EIO;
        return false;
    }
    end = pos + got;
    buf_[static_cast<std::size_t>(got)] = '\0';
    return true;
}

unsigned long long countTableLines(ByteReader &in) {
    constexpr unsigned long long kChunk = 1999;  // fgets with a 2000-byte line buffer
    unsigned long long count = 0;
    unsigned long long run = 0;  // bytes since the last counted chunk
    while (in.pos != in.end || in.refill()) {
        const char *p = in.pos;
        const char *end = in.end;
        while (const void *hit = std::memchr(p, '\n', static_cast<std::size_t>(end - p))) {
            const char *lf = static_cast<const char *>(hit);
            run += static_cast<unsigned long long>(lf + 1 - p);
            count += (run + kChunk - 1) / kChunk;
            run = 0;
            p = lf + 1;
        }
        run += static_cast<unsigned long long>(end - p);
        count += run / kChunk;
        run %= kChunk;
        in.pos = end;
    }
    return count;
}

}  // namespace clean_replace
