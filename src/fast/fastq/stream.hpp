// The streaming reader's internal entry point.
#ifndef FAST_STREAM_HPP
#define FAST_STREAM_HPP

#include <cstddef>
#include <cstdint>

#include "fast.h"

namespace fast {

// openFastqStream() with the size of the blocks read ahead chosen by the caller (0: from the
// batch size, between 64 KiB and 1 MiB). Tiny blocks make every entry cross block boundaries,
// which the tests want.
FastqStream *openStream(const char *path, int64_t batch_bytes, int32_t threads,
                        std::size_t block_bytes) noexcept;

// The lengths of an entry's name and comment, as strlen() gives them (0 without a comment).
struct HeaderLengths {
    int32_t name;
    int32_t comment;
};

// One for each entry of the batch readFastqBatch() (or readFastqPairBatch()) last gave, valid as
// long as the entries are: what a caller that copies the names would otherwise count. nullptr
// where the stream does not keep them (BAM records, interleaved pairs).
const HeaderLengths *headerLengths(const FastqStream *stream) noexcept;

}  // namespace fast

#endif
