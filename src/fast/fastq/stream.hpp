// The streaming reader's internal entry point.
#ifndef FAST_STREAM_HPP
#define FAST_STREAM_HPP

#include <cstddef>
#include <cstdint>

#include "fast.h"

namespace fast {

struct StartPoint;
class PointSink;

// Told of the entries a stream reads at or after a text offset that it chooses.
class EntryWatch {
  public:
    virtual ~EntryWatch() = default;
    // The entry at text offset `text`, kept or not, which has `number` kept entries before it
    // in the text: the next text offset to be told at (INT64_MAX: none), or -1 when it is not
    // what the watch expects, which fails the stream with why().
    virtual int64_t entryAt(int64_t text, int64_t number) noexcept = 0;
    virtual const char *why() const noexcept = 0;
};

// Where a stream starts, what it delivers and who is told of what it passes.
struct StreamStart {
    const StartPoint *point = nullptr;  // where reading starts; nullptr: at the text's start
    int64_t entry_text = 0;  // the text offset of the first entry read, at or after the point
    int64_t number = 0;      // the kept entries before it in the text
    int64_t discard = 0;     // kept entries read and not delivered first
    int64_t count = -1;      // the most entries delivered; -1 for all, to the text's end
    int64_t watch_from = INT64_MAX;  // the first text offset the watch is told at
    EntryWatch *watch = nullptr;
    bool owns_watch = false;      // the stream deletes the watch when it is closed
    PointSink *points = nullptr;  // told of the split points that reading passes
};

// openStream() from `start`. A range (a count of entries) whose text ends before its last
// entry fails, as does one whose first entry is not at entry_text.
FastqStream *openStreamFrom(const char *path, int64_t batch_bytes, int32_t threads,
                            std::size_t block_bytes, const StreamStart &start) noexcept;

// A stream whose first read fails with `why`, or nullptr (ENOMEM).
FastqStream *failedStream(const char *why) noexcept;

// The text offset of the end of the text read so far: at the end, the text's size.
int64_t streamTextAt(const FastqStream *stream) noexcept;

// openFastqStream() with the size of the blocks read ahead chosen by the caller (0: from the
// batch size, between 64 KiB and 1 MiB). Tiny blocks make every entry cross block boundaries,
// which the tests want.
FastqStream *openStream(const char *path, int64_t batch_bytes, int32_t threads,
                        std::size_t block_bytes) noexcept;

}  // namespace fast

#endif
