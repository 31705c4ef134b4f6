// The writer's internal entry point.
#ifndef FAST_WRITER_HPP
#define FAST_WRITER_HPP

#include <cstddef>
#include <cstdint>

#include "fast.h"

namespace fast {

// openFastqWriter() with the size of the slots of text chosen by the caller (0: about 1 MiB;
// else rounded up to whole blocks of the format). Small slots make entries cross them, which
// the tests want.
FastqWriter *openWriter(const char *path, int32_t format, int32_t level, int32_t threads,
                        std::size_t slot_bytes) noexcept;

}  // namespace fast

#endif
