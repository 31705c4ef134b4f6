// The writer's internal entry point.
#ifndef FAST_WRITER_HPP
#define FAST_WRITER_HPP

#include <cstddef>
#include <cstdint>

#include "fast.h"

namespace fast {

// openFastqWriterWith() with the size of the slots of text chosen by the caller (0: about 1
// MiB; else rounded up to whole blocks of the format), and the choice of an unnamed file (false:
// the ".part" file beside the name that file systems without unnamed files get). Small slots
// make entries cross them, which the tests want.
FastqWriter *openWriter(const char *path, const FastqWriterOptions *options, std::size_t slot_bytes,
                        bool unnamed = true) noexcept;

}  // namespace fast

#endif
