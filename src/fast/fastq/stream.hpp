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

}  // namespace fast

#endif
