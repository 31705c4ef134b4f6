#include "byte_reader.hpp"

#include <cstring>

#include "fastq/bam.hpp"
#include "input/input.hpp"

namespace clean_replace {

ReadFunction inputReader(fast::Input &input) {
    // A table is text: BAM data is refused by name before any of it is read as lines.
    return [&input, sniffer = fast::BamSniffer()](char *buf, std::size_t size,
                                                  const char *&why) mutable -> long long {
        const std::int64_t got = input.read(buf, size);
        if (got < 0) why = input.why();
        if (got > 0 && sniffer.bam(buf, static_cast<std::size_t>(got))) {
            why = fast::kBamRefused;
            return -1;
        }
        return got;
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
    const char *why = nullptr;
    const long long got = read_(buf_.get(), capacity_, why);
    if (got <= 0) {
        finished_ = true;
        if (got < 0) error_ = why != nullptr ? why : "read error";
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
