// The record index: split points of a read set about every `spacing` bytes of its text, each
// with the first entry that starts at or after it, and the identity of the file they belong to.
// Its file format is described in docs/index.md.
#ifndef FAST_INDEX_HPP
#define FAST_INDEX_HPP

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fast.h"
#include "input/points.hpp"

namespace fast {

// What makes a read set the one an index was built for: its size, its modification time and
// checksums of its first and last 64 KiB.
struct FileIdentity {
    int64_t size = -1;
    int64_t mtime_ns = 0;
    uint32_t head_crc = 0, tail_crc = 0;
    bool operator==(const FileIdentity &o) const noexcept {
        return size == o.size && mtime_ns == o.mtime_ns && head_crc == o.head_crc &&
               tail_crc == o.tail_crc;
    }
};

// The identity of the file at `path`; false with errno set when it cannot be read or is not a
// regular file (EINVAL).
bool identify(const char *path, FileIdentity &id) noexcept;
// The same of the file open for reading at fd.
bool identifyOpen(int fd, FileIdentity &id) noexcept;

struct IndexPoint {
    StartPoint start;
    int64_t entry_text = 0;  // the text offset of the first entry at or after start.text
    int64_t number = 0;      // the kept entries before that entry
};

struct RecordIndex {
    FileIdentity identity;
    uint8_t format = 0;  // Format, as a number: 0 plain, 1 gzip, 2 zstd, 3 xz, 4 bzip2
    int64_t entries = 0;
    int64_t text_size = 0;
    int64_t spacing = 0;
    std::vector<IndexPoint> points;

    // The bytes of the index file.
    std::vector<unsigned char> serialize() const;
    // Reads an index file's bytes: false, with `why` set, when they are not a sound index.
    bool parse(const unsigned char *p, std::size_t n, std::string &why);

    // The last point at or before kept entry `first`.
    std::size_t pointFor(int64_t first) const noexcept;
    // Up to n spans of nearly equal text, at points, covering every entry once: their bounds,
    // k + 1 entry numbers from 0 to `entries`.
    std::vector<int64_t> splits(int32_t n) const;
};

// Builds incrementally what the input layer and a stream tell: the points it passes, each
// joined to the first entry at or after it. A writer that knows both can feed it directly.
class IndexBuilder {
  public:
    explicit IndexBuilder(int64_t spacing) : spacing_(spacing) {}
    // A split point, in the text's order.
    void addPoint(StartPoint &&point);
    // An entry (kept or not) at text offset `text` with `number` kept entries before it: it is
    // the entry of every point added before at or before `text` that has none yet.
    void addEntry(int64_t text, int64_t number);
    // The smallest text offset of a point that still waits for its entry, or INT64_MAX.
    int64_t waiting() const noexcept {
        return next_ < pending_.size() ? pending_[next_].text : INT64_MAX;
    }
    // The index, once every point and entry has been added.
    RecordIndex finish(uint8_t format, const FileIdentity &id, int64_t entries, int64_t text_size);

  private:
    int64_t spacing_;
    std::vector<StartPoint> pending_;
    std::size_t next_ = 0;
    std::vector<IndexPoint> points_;
};

struct OutputPoint;

// What a writer records to index the file it writes as it writes it: for the split points the
// output layer makes, one each `every` bytes of text, the first entry at or after each.
class WriterMarks {
  public:
    explicit WriterMarks(int64_t every) noexcept : every_(every > 0 ? every : 1) {}
    // An entry (in the text's order) at text offset `text` with `number` entries before it.
    void entry(int64_t text, int64_t number) {
        if (text >= next_) mark(text, number);
    }
    // The index of the file written, given its identity and the output layer's points.
    RecordIndex finish(uint8_t format, const FileIdentity &id,
                       const std::vector<OutputPoint> &points, int64_t entries, int64_t text_size,
                       int64_t spacing) const;

  private:
    void mark(int64_t text, int64_t number);
    struct Mark {
        int64_t point, text, number;
    };
    int64_t every_, next_ = 0;
    std::vector<Mark> marks_;
};

// Writes the index file at `path` in place as the writer writes a file: beside it, synced, then
// renamed onto it. False with `why` set.
bool writeIndexFile(const char *path, const RecordIndex &index, std::string &why);

// Reads and checks the index file at `path`: false with `why` set.
bool readIndexFile(const char *path, RecordIndex &index, std::string &why);

// openFastqIndexRange(); with `peek`, the entry after the span's last must be where the index
// records the entry of that number, or the stream fails (where the next span starts, for a
// read of spans one after another).
FastqStream *openSpan(const FastqIndex *index, int64_t first, int64_t end, int64_t batch_bytes,
                      int32_t threads, bool peek) noexcept;

// The index file of a read set when none is named: PATH.ridx.
std::string indexPathFor(const char *path);

}  // namespace fast

// The opaque index of fast.h.
struct FastqIndex {
    std::string path;        // the read set
    std::string index_path;  // its index file
    fast::RecordIndex index;
    std::string error;  // empty when the index is sound and matches its file
};

#endif
