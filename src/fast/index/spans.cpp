// Every core on one indexed file: helpers read its spans apart, each from a split point, and
// their batches are handed over in the text's order. Each span but the last checks that the
// entry after its last is where the next span starts, so the spans join exactly; a span that
// fails (an index that does not agree with the text, or a fault in the text) ends the helpers,
// and the text is read on in order from the first entry not yet delivered, as without an
// index, so that a fault is reported as the stream reports it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "codecs/gzip.hpp"
#include "fastq/stream.hpp"
#include "index/index.hpp"

namespace fast {

namespace {

// Text of one span, about: several split points' worth, so that helpers rarely wait.
constexpr int64_t kSpanText = int64_t{8} << 20;
// Helpers when the caller leaves it to the stream, as for BGZF.
constexpr int32_t kMostAutoHelpers = 8;
// Spans pay on few cores where one core's inflating bounds the read in order: gzip that is not
// BGZF (one member, or members without block sizes), xz and bzip2. The others are read in order
// below this many helpers, faster than by spans on two cores and in a fifth of the memory:
// plain text, which the stream parses at 5 to 8 GB a second; BGZF, whose blocks are inflated on
// every helper while one thread parses; zstd, which inflates 2 GB of text a second or more on
// its helper. A BGZF helper inflates about 0.8 GB a second, so from about eight helpers on the
// one parse falls behind, and spans, which parse on every helper, pay for all of them.
constexpr int32_t kFastFormatSpanHelpers = 8;

// Whether the file at `path` starts with a BGZF block.
bool startsBgzf(const char *path) noexcept {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    unsigned char head[4096];  // a header with its extra field
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    return got > 0 && bgzfBlockSize(head, static_cast<std::size_t>(got)) > 0;
}

struct Batch {
    BatchBuffers buffers[2];
    int32_t count = 0;
    int64_t skipped = 0;
    void release() noexcept {
        for (BatchBuffers &b : buffers) {
            std::free(b.entries);
            std::free(b.text);
            b = BatchBuffers{};
        }
    }
};

struct Span {
    int64_t first = 0, end = 0;
    std::deque<Batch> batches;
    bool done = false, failed = false;
};

class SpanReader final : public BatchSource {
  public:
    SpanReader(FastqIndex *index, const char *path, int64_t batch_bytes, int32_t threads,
               int32_t helpers)
        : index_(index),
          path_(path),
          batch_bytes_(batch_bytes),
          threads_(threads),
          helpers_(helpers) {}

    ~SpanReader() override {
        stop();
        for (Span &s : spans_)
            for (Batch &b : s.batches) b.release();
        current_.release();
        for (BatchBuffers &b : spare_) {
            std::free(b.entries);
            std::free(b.text);
        }
        closeFastqIndex(index_);
        closeFastqIndex(second_index_);
        if (sequential_) closeFastqStream(sequential_);
    }

    int32_t next(SeqEntry **entries) noexcept override {
        if (!started_ && !sequential_) {
            started_ = true;
            running_ = start(nullptr);
        }
        if (running_) {
            const int32_t n = take();
            if (n != -2) {
                if (n > 0) *entries = current_.buffers[0].entries;
                return n;
            }
            if (!fallBack()) return -1;
        }
        if (!sequential_ && !fallBack()) return -1;
        return readFastqBatch(sequential_, entries);
    }

    // A pair: when both files have helpers and as many entries, the first's helpers read the
    // spans of both in step; otherwise both are read in order.
    int32_t nextPair(FastqStream *first, FastqStream *second, SeqEntry **first_entries,
                     SeqEntry **second_entries) noexcept override {
        const bool leading = sourceOf(first) == this;
        SpanReader *other = static_cast<SpanReader *>(leading ? sourceOf(second) : sourceOf(first));
        if (!started_ && !sequential_) {
            started_ = true;
            if (leading && other && !other->started_ && !other->sequential_ &&
                other->index_->index.entries == index_->index.entries && start(other)) {
                running_ = true;
                other->started_ = other->driven_ = true;
            }
        }
        if (running_) {
            const int32_t n = take();
            if (n != -2) {
                if (n > 0) {
                    *first_entries = current_.buffers[0].entries;
                    *second_entries = current_.buffers[1].entries;
                }
                return n;
            }
            // Both files go on in order from the first pair not yet delivered.
            other->delivered_ = delivered_;
            other->driven_ = false;
            if (!fallBack() || !other->fallBack()) return -1;
        }
        if (driven_) return -1;  // read through the first file's stream only
        if (!sequential_ && !fallBack()) return -1;
        FastqStream *a = leading ? sequential_ : first;
        FastqStream *b = leading ? second : sequential_;
        if (leading && other) {
            if (!other->sequential_ && !other->fallBack()) return -1;
            b = other->sequential_;
        }
        return readFastqPairBatch(a, b, first_entries, second_entries);
    }

    FastqStream *inOrder() noexcept override {
        if (driven_) {
            // Its position is its leader's, read in step with it.
            error_ = path_ + ": the second file of a pair read by spans is read with its first";
            return nullptr;
        }
        started_ = true;
        if (!sequential_ && !fallBack()) return nullptr;
        return sequential_;
    }

    const char *error() const noexcept override {
        if (sequential_) return fastqStreamError(sequential_);
        return error_.empty() ? nullptr : error_.c_str();
    }

    int64_t skipped() const noexcept override {
        // A stream read on in order counts again the entries dropped before.
        return sequential_ ? fastqStreamSkipped(sequential_) : skipped_;
    }

  private:
    // Plans the spans and starts the helpers; `second` reads the second file of a pair.
    bool start(SpanReader *second) noexcept {
        started_ = true;
        try {
            const RecordIndex &x = index_->index;
            const int32_t n = static_cast<int32_t>(
                std::clamp<int64_t>(x.text_size / kSpanText, helpers_, int64_t{1} << 20));
            const std::vector<int64_t> bounds = x.splits(n);
            if (bounds.size() < 3) return false;
            for (std::size_t i = 0; i + 1 < bounds.size(); ++i) {
                Span s;
                s.first = bounds[i];
                s.end = bounds[i + 1];
                spans_.push_back(std::move(s));
            }
            if (second) {
                // The second file's index moves here, where its spans are read.
                second_index_ = second->index_;
                second->index_ = nullptr;
            }
            for (int32_t i = 0; i < helpers_; ++i) threads_list_.emplace_back([this] { work(); });
        } catch (...) {
            stop();
            return false;
        }
        return true;
    }

    void stop() noexcept {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        for (std::thread &t : threads_list_) t.join();
        threads_list_.clear();
    }

    // The next batch of the span being delivered: its count, 0 at the end of the last span, -2
    // when a span failed.
    int32_t take() noexcept {
        std::unique_lock<std::mutex> lock(mutex_);
        recycle(current_);
        for (;;) {
            if (at_ == spans_.size()) return 0;
            Span &s = spans_[at_];
            changed_.wait(lock, [&] { return !s.batches.empty() || s.done; });
            if (!s.batches.empty()) {
                current_ = s.batches.front();
                s.batches.pop_front();
                delivered_ += current_.count;
                skipped_ += current_.skipped;
                return current_.count;
            }
            if (s.failed) return -2;
            ++at_;
            changed_.notify_all();
        }
    }

    // Keeps the buffers of a batch no longer used for the helpers' next batches (there are no
    // more of them than batches read ahead); called with the lock held.
    void recycle(Batch &batch) noexcept {
        if (batch.buffers[0].entries || batch.buffers[0].text) {
            try {
                {
                    spare_.push_back(batch.buffers[0]);
                    batch.buffers[0] = BatchBuffers{};
                    if (batch.buffers[1].entries || batch.buffers[1].text) {
                        spare_.push_back(batch.buffers[1]);
                        batch.buffers[1] = BatchBuffers{};
                    }
                }
            } catch (...) {
            }
        }
        batch.release();
        batch = Batch{};
    }

    // Buffers for a helper's next batch: kept ones, or none (the stream makes its own).
    BatchBuffers spare() noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        if (spare_.empty()) return BatchBuffers{};
        const BatchBuffers b = spare_.back();
        spare_.pop_back();
        return b;
    }

    // A helper: claims the next span, no more than one a helper ahead of the one delivered, and
    // reads it into batches of its own.
    void work() noexcept {
        for (;;) {
            std::size_t k;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] {
                    return stopping_ || failed_ ||
                           (claimed_ < spans_.size() &&
                            claimed_ <= at_ + static_cast<std::size_t>(helpers_));
                });
                if (stopping_ || failed_ || claimed_ == spans_.size()) return;
                k = claimed_++;
            }
            readSpan(k);
        }
    }

    void readSpan(std::size_t k) noexcept {
        Span &span = spans_[k];
        const bool peek = k + 1 < spans_.size();
        FastqStream *a = openSpan(index_, span.first, span.end, batch_bytes_, 1, peek);
        FastqStream *b = second_index_
                             ? openSpan(second_index_, span.first, span.end, batch_bytes_, 1, peek)
                             : nullptr;
        bool ok = a && (b || !second_index_);
        int64_t skipped = 0;
        while (ok) {
            SeqEntry *x = nullptr, *y = nullptr;
            const int32_t n = b ? readFastqPairBatch(a, b, &x, &y) : readFastqBatch(a, &x);
            if (n <= 0) {
                ok = n == 0;
                break;
            }
            Batch batch;
            batch.count = n;
            batch.skipped = fastqStreamSkipped(a) - skipped;
            skipped += batch.skipped;
            batch.buffers[0] = spare();
            if (b) batch.buffers[1] = spare();
            if (!swapBatch(a, batch.buffers[0]) || (b && !swapBatch(b, batch.buffers[1]))) {
                batch.release();
                ok = false;
                break;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_ || failed_) {
                batch.release();
                ok = false;
                break;
            }
            try {
                span.batches.push_back(batch);
            } catch (...) {
                batch.release();
                ok = false;
                break;
            }
            changed_.notify_all();
        }
        if (a) closeFastqStream(a);
        if (b) closeFastqStream(b);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            span.done = true;
            span.failed = !ok;
            if (!ok) failed_ = true;
        }
        changed_.notify_all();
    }

    // Ends the helpers and reads on in order from the first entry not yet delivered.
    bool fallBack() noexcept {
        stop();
        running_ = false;
        recycle(current_);
        StreamStart start;
        start.discard = delivered_;
        sequential_ = openStreamFrom(path_.c_str(), batch_bytes_, threads_, 0, start);
        if (!sequential_) {
            error_ = std::string(path_) + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }

    FastqIndex *index_;
    FastqIndex *second_index_ = nullptr;
    std::string path_;
    int64_t batch_bytes_;
    int32_t threads_, helpers_;
    bool started_ = false, running_ = false;
    bool driven_ = false;  // the second file of a pair, read by the first's helpers
    std::vector<Span> spans_;
    std::vector<std::thread> threads_list_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false, failed_ = false;
    std::size_t claimed_ = 0, at_ = 0;
    Batch current_;
    std::vector<BatchBuffers> spare_;
    int64_t delivered_ = 0, skipped_ = 0;
    FastqStream *sequential_ = nullptr;
    std::string error_;
};

}  // namespace

FastqStream *openIndexedStream(const char *path, int64_t batch_bytes, int32_t threads) noexcept {
    if (!path || batch_bytes < 0 || threads < 0 || threads == 1) return nullptr;
    try {
        const std::string ridx = indexPathFor(path);
        struct stat st;
        if (::stat(ridx.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
        FastqIndex *index = loadFastqIndex(path, nullptr);
        if (!index) return nullptr;
        if (fastqIndexError(index) || index->index.points.size() < 2) {
            closeFastqIndex(index);
            return nullptr;
        }
        const int32_t cores = static_cast<int32_t>(std::thread::hardware_concurrency());
        const int32_t helpers =
            threads == 0 ? std::clamp(cores, 2, kMostAutoHelpers) : std::min(threads - 1, 63);
        const uint8_t format = index->index.format;
        const bool fast_in_order = format == 0 || format == 2 || (format == 1 && startsBgzf(path));
        if (helpers < 2 || (helpers < kFastFormatSpanHelpers && fast_in_order)) {
            closeFastqIndex(index);
            return nullptr;
        }
        std::unique_ptr<SpanReader> reader(
            new SpanReader(index, path, batch_bytes, threads, helpers));
        return sourcedStream(std::move(reader));
    } catch (...) {
        return nullptr;
    }
}

}  // namespace fast
