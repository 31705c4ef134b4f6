// The record index's C interface: building an index in one pass of the stream, loading and
// checking one, and reading a span of entries from a split point.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "codecs/decompress.hpp"
#include "fast.h"
#include "fastq/stream.hpp"
#include "index/index.hpp"

namespace fast {

namespace {

// Joins the points the input layer passes to the entries the stream reads after them.
class BuildWatch final : public EntryWatch, public PointSink {
  public:
    explicit BuildWatch(int64_t spacing) : PointSink(spacing), builder(spacing) {}
    int64_t entryAt(int64_t text, int64_t number) noexcept override {
        try {
            const int64_t next = withPoints([&](std::vector<StartPoint> &points, int64_t later) {
                for (StartPoint &p : points) builder.addPoint(std::move(p));
                points.clear();
                return later;
            });
            builder.addEntry(text, number);
            return std::min(next, builder.waiting());
        } catch (...) {
            return -1;
        }
    }
    const char *why() const noexcept override { return "out of memory"; }
    IndexBuilder builder;
};

// Checks, as a span is read, that each entry the index records in it is where it says.
class SpanWatch final : public EntryWatch {
  public:
    int64_t entryAt(int64_t text, int64_t number) noexcept override {
        const Expected &p = expected[next];
        if (text != p.entry_text || number != p.number) {
            std::snprintf(why_, sizeof why_,
                          "the text does not agree with its index: entry %lld is at %lld, not "
                          "%lld as the index records",
                          static_cast<long long>(number), static_cast<long long>(text),
                          static_cast<long long>(p.entry_text));
            return -1;
        }
        return ++next < expected.size() ? expected[next].entry_text : INT64_MAX;
    }
    const char *why() const noexcept override { return why_; }
    struct Expected {
        int64_t entry_text, number;
    };
    std::vector<Expected> expected;
    std::size_t next = 0;

  private:
    char why_[200] = {};
};

// The format number an index records for the file at `path`, or -1 with errno set.
int formatOfFile(const char *path) noexcept {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    unsigned char head[kMagicBytes];
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    if (got < 0) return -1;
    bool undecided = false;
    const FormatInfo *f = formatOf(head, static_cast<std::size_t>(got), undecided);
    return f ? static_cast<int>(f->format) : 0;
}

const char *mismatch(const FileIdentity &now, const FileIdentity &then) noexcept {
    if (now.size != then.size) return "its size differs";
    if (now.head_crc != then.head_crc || now.tail_crc != then.tail_crc)
        return "its content differs";
    return "its modification time differs";
}

FastqIndex *newIndex(const char *path, const char *index_path) noexcept {
    if (!path) {
        errno = EINVAL;
        return nullptr;
    }
    try {
        FastqIndex *idx = new FastqIndex;
        idx->path = path;
        idx->index_path = index_path ? index_path : indexPathFor(path);
        return idx;
    } catch (...) {
        errno = ENOMEM;
        return nullptr;
    }
}

bool usable(const FastqIndex *index) noexcept {
    return index && index->error.empty();
}

}  // namespace

}  // namespace fast

using namespace fast;

extern "C" {

FastqIndex *indexFastq(const char *path, const char *index_path, int64_t spacing, int32_t threads) {
    if (spacing < 0 || threads < 0) {
        errno = EINVAL;
        return nullptr;
    }
    FastqIndex *idx = newIndex(path, index_path);
    if (!idx) return nullptr;
    try {
        FileIdentity before, after;
        const int format = formatOfFile(path);
        if (format < 0 || !identify(path, before)) {
            idx->error =
                idx->path + ": " + (errno == EINVAL ? "not a regular file" : std::strerror(errno));
            return idx;
        }
        BuildWatch watch(spacing > 0 ? spacing : FAST_INDEX_SPACING);
        StreamStart start;
        start.points = &watch;
        start.watch = &watch;
        start.watch_from = 0;
        FastqStream *s = openStreamFrom(path, 0, threads, 0, start);
        if (!s) {
            idx->error = idx->path + ": " + std::strerror(errno);
            return idx;
        }
        int64_t entries = 0;
        SeqEntry *batch;
        int32_t n;
        while ((n = readFastqBatch(s, &batch)) > 0) entries += n;
        if (n < 0) {
            idx->error = idx->path + ": " + fastqStreamError(s);
            closeFastqStream(s);
            return idx;
        }
        const int64_t text = streamTextAt(s);
        closeFastqStream(s);
        if (!identify(path, after) || !(after == before)) {
            idx->error = idx->path + ": it changed while it was indexed";
            return idx;
        }
        idx->index = watch.builder.finish(static_cast<uint8_t>(format), before, entries, text);
        std::string why;
        if (!writeIndexFile(idx->index_path.c_str(), idx->index, why))
            idx->error = idx->index_path + ": " + why;
    } catch (...) {
        idx->error = std::strerror(ENOMEM);
    }
    return idx;
}

FastqIndex *loadFastqIndex(const char *path, const char *index_path) {
    FastqIndex *idx = newIndex(path, index_path);
    if (!idx) return nullptr;
    try {
        std::string why;
        FileIdentity now;
        if (!readIndexFile(idx->index_path.c_str(), idx->index, why)) {
            idx->error = "the index " + idx->index_path + " " +
                         (why.compare(0, 2, "is") == 0 || why.compare(0, 3, "has") == 0
                              ? why
                              : "cannot be read: " + why);
        } else if (!identify(path, now)) {
            idx->error = idx->path + ": " + std::strerror(errno);
        } else if (!(now == idx->index.identity) || formatOfFile(path) != idx->index.format) {
            idx->error = "the index " + idx->index_path + " does not match " + idx->path + " (" +
                         mismatch(now, idx->index.identity) +
                         "): it is stale or belongs to another file";
        }
    } catch (...) {
        idx->error = std::strerror(ENOMEM);
    }
    return idx;
}

const char *fastqIndexError(const FastqIndex *index) {
    if (!index) return "no index";
    return index->error.empty() ? nullptr : index->error.c_str();
}

int64_t fastqIndexEntries(const FastqIndex *index) {
    return usable(index) ? index->index.entries : 0;
}

int64_t fastqIndexTextSize(const FastqIndex *index) {
    return usable(index) ? index->index.text_size : -1;
}

int32_t fastqIndexPoints(const FastqIndex *index) {
    return usable(index) ? static_cast<int32_t>(index->index.points.size()) : 0;
}

int32_t fastqIndexPoint(const FastqIndex *index, int32_t i, int64_t *entry, int64_t *text) {
    if (i < 0 || i >= fastqIndexPoints(index)) return -1;
    const IndexPoint &p = index->index.points[static_cast<std::size_t>(i)];
    if (entry) *entry = p.number;
    if (text) *text = p.entry_text;
    return 0;
}

int32_t fastqIndexSplits(const FastqIndex *index, int32_t n, int64_t *bounds) {
    if (!usable(index) || n < 1 || !bounds) return -1;
    try {
        const std::vector<int64_t> b = index->index.splits(n);
        std::copy(b.begin(), b.end(), bounds);
        return static_cast<int32_t>(b.size() - 1);
    } catch (...) {
        return -1;
    }
}

FastqStream *openFastqIndexRange(const FastqIndex *index, int64_t first, int64_t end,
                                 int64_t batch_bytes, int32_t threads) {
    return openSpan(index, first, end, batch_bytes, threads, false);
}

}  // extern "C"

FastqStream *fast::openSpan(const FastqIndex *index, int64_t first, int64_t end,
                            int64_t batch_bytes, int32_t threads, bool peek) noexcept {
    if (!index || first < 0 || end < first || batch_bytes < 0 || threads < 0) {
        errno = EINVAL;
        return nullptr;
    }
    if (!index->error.empty()) return failedStream(index->error.c_str());
    const RecordIndex &x = index->index;
    if (end > x.entries) {
        const std::string why = "entries [" + std::to_string(first) + ", " + std::to_string(end) +
                                ") go past the " + std::to_string(x.entries) + " entries of " +
                                index->path;
        return failedStream(why.c_str());
    }
    FileIdentity now;
    if (!identify(index->path.c_str(), now)) return nullptr;
    if (!(now == x.identity)) {
        const std::string why = "the index " + index->index_path + " no longer matches " +
                                index->path + " (" + mismatch(now, x.identity) + ")";
        return failedStream(why.c_str());
    }
    SpanWatch *watch = new (std::nothrow) SpanWatch;
    if (!watch) {
        errno = ENOMEM;
        return nullptr;
    }
    StreamStart start;
    if (first == end || x.points.empty()) {
        // No entry to read: the text is not read either.
        start.count = 0;
    } else {
        const std::size_t k = x.pointFor(first);
        const IndexPoint &p = x.points[k];
        try {
            // With `peek`, the point of the entry after the span's last too.
            for (std::size_t i = k; i < x.points.size() && x.points[i].number < end + peek; ++i)
                watch->expected.push_back({x.points[i].entry_text, x.points[i].number});
        } catch (...) {
            delete watch;
            errno = ENOMEM;
            return nullptr;
        }
        start.point = &p.start;
        // From the text's start the text is read as it is, so that no entry before the one the
        // index records can be passed over unseen.
        start.entry_text = p.start.text == 0 ? 0 : p.entry_text;
        start.number = p.number;
        start.discard = first - p.number;
        start.count = end - first;
        start.watch_from = p.entry_text;
        start.peek = peek && watch->expected.back().number == end;
    }
    start.watch = watch;
    start.owns_watch = true;
    return openStreamFrom(index->path.c_str(), batch_bytes, threads, 0, start);
}

extern "C" {

FastqStream *openFastqStreamRange(const char *path, int64_t first, int64_t end, int64_t batch_bytes,
                                  int32_t threads) {
    FastqIndex *index = loadFastqIndex(path, nullptr);
    if (!index) return nullptr;
    FastqStream *s = openFastqIndexRange(index, first, end, batch_bytes, threads);
    const int saved = errno;
    closeFastqIndex(index);
    errno = saved;
    return s;
}

void closeFastqIndex(FastqIndex *index) {
    delete index;
}

}  // extern "C"
