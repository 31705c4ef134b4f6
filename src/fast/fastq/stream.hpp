// The streaming reader's internal entry point.
#ifndef FAST_STREAM_HPP
#define FAST_STREAM_HPP

#include <cstddef>
#include <cstdint>
#include <memory>

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
    bool owns_watch = false;  // the stream deletes the watch when it is closed
    // After the last entry of a span (count), the watch is told of the next entry, wherever
    // it is; the text ending first fails the stream with the watch's why().
    bool peek = false;
    PointSink *points = nullptr;  // told of the split points that reading passes
};

// What a stream reads its batches from instead of its own text: helpers that read spans of it
// apart (src/fast/index/spans.cpp). Each call stands for the C function of the same role.
class BatchSource {
  public:
    virtual ~BatchSource() = default;
    virtual int32_t next(SeqEntry **entries) noexcept = 0;
    // `self` is first or second; the other may have a source of its own.
    virtual int32_t nextPair(FastqStream *first, FastqStream *second, SeqEntry **first_entries,
                             SeqEntry **second_entries) noexcept = 0;
    virtual const char *error() const noexcept = 0;
    virtual int64_t skipped() const noexcept = 0;
    // The stream that reads on in order from the first entry not yet delivered, for the reading
    // that the source's batches do not serve (mates in turn, three or more files in step);
    // nullptr on a failure, which error() tells.
    virtual FastqStream *inOrder() noexcept = 0;
};

// A stream whose batches come from `source`, or nullptr (ENOMEM).
FastqStream *sourcedStream(std::unique_ptr<BatchSource> source) noexcept;
// The stream's source, or nullptr.
BatchSource *sourceOf(FastqStream *stream) noexcept;

// The stream openFastqStream() gives when `path` has a record index that matches it: helpers
// read its spans apart. nullptr when it has none, or it is not to be used (one thread).
FastqStream *openIndexedStream(const char *path, int64_t batch_bytes, int32_t threads) noexcept;

// openStream() from `start`. A range (a count of entries) whose text ends before its last
// entry fails, as does one whose first entry is not at entry_text.
FastqStream *openStreamFrom(const char *path, int64_t batch_bytes, int32_t threads,
                            std::size_t block_bytes, const StreamStart &start) noexcept;

// A stream whose first read fails with `why`, or nullptr (ENOMEM).
FastqStream *failedStream(const char *why) noexcept;

// The buffers of a batch: its entries and the text they point to, from malloc().
struct BatchBuffers {
    SeqEntry *entries = nullptr;
    std::size_t entries_cap = 0;  // entries
    char *text = nullptr;
    std::size_t text_cap = 0;  // bytes
};

// Exchanges the buffers of the batch just read with `buffers` (empty ones, or those of a batch
// no longer used): the caller then owns the batch's, and the next batch is read into the
// others. Entries read in place are copied into the batch's buffer first. False when memory
// cannot be had, or for BAM records, which are not kept in those buffers.
bool swapBatch(FastqStream *stream, BatchBuffers &buffers) noexcept;

// The text offset of the end of the text read so far: at the end, the text's size.
int64_t streamTextAt(const FastqStream *stream) noexcept;

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
// where the stream does not keep them (BAM records, interleaved pairs, spans read on helpers).
const HeaderLengths *headerLengths(const FastqStream *stream) noexcept;

}  // namespace fast

#endif
