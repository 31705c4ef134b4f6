// The output layer, the mirror of the input layer: one byte sink for regular files, standard
// output, pipes and devices, plain or in any written format. Its users put text and never branch
// on where it goes or how it is compressed.
//
// Text is put into slots of a fixed size. A full slot is handed to the helpers, which compress
// it (several at once where the format's blocks are compressed apart) and write the slots in
// order, while the caller fills the next one. A regular file is written beside its final name
// and renamed onto it by finish(), only once every byte is written and synced; anything else
// (standard output, a pipe, a FIFO, a device) is written directly.
#ifndef FAST_OUTPUT_HPP
#define FAST_OUTPUT_HPP

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "codecs/compress.hpp"
#include "codecs/decompress.hpp"

namespace fast {

class Output {
  public:
    Output() noexcept = default;
    // Ends the helpers and, unless finish() succeeded, removes the file written beside the
    // final name.
    ~Output();
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    // Opens `path` ("-": standard output) for text in `format` (nullptr: plain; else a format
    // with a writer) at `level` (0: the format's default) with at most `threads` threads in
    // all, the caller's included (0: as many as help, 1: no helper). False with errno set:
    // EINVAL for a level the format does not take, ENOENT, EACCES, EISDIR, ... for a path that
    // cannot be created, ENOMEM. Text goes out in slots of about 1 MiB, or of `slot_bytes`
    // rounded up to whole blocks of the format (tests want slots that entries cross).
    bool open(const char *path, const FormatInfo *format, int level, int threads,
              std::size_t slot_bytes = 0) noexcept;

    // Puts n bytes of text.
    bool put(const void *p, std::size_t n) noexcept {
        if (n <= static_cast<std::size_t>(lim_ - cur_)) {
            std::memcpy(cur_, p, n);
            cur_ += n;
            return true;
        }
        return putSpilling(p, n);
    }
    // Puts map(p[i]) for each of n bytes.
    template <class Map>
    bool putMapped(const char *p, std::size_t n, Map map) noexcept {
        for (;;) {
            const std::size_t k = std::min(n, static_cast<std::size_t>(lim_ - cur_));
            for (std::size_t i = 0; i < k; ++i) cur_[i] = map(p[i]);
            cur_ += k;
            p += k;
            n -= k;
            if (n == 0) return true;
            if (!next()) return false;
        }
    }
    // The room left in the current slot, to write into directly, and the taking of what was
    // written there.
    char *room(std::size_t &n) noexcept {
        n = static_cast<std::size_t>(lim_ - cur_);
        return cur_;
    }
    void wrote(std::size_t n) noexcept { cur_ += n; }

    // Hands the current slot over and makes the next one current; false after a failure.
    bool next() noexcept;

    // Whether writing has failed (final), and the system's words for why.
    bool failed() const noexcept { return failed_.load(std::memory_order_acquire); }
    const char *why() const noexcept { return failed() ? why_ : nullptr; }

    // Writes what is left and the format's end, waits for the helpers, syncs, closes and
    // renames onto the final name. True only when all of that succeeded; once only.
    bool finish() noexcept;

  private:
    struct Slot {
        std::unique_ptr<char[]> text;
        std::size_t len = 0;
        bool last = false;
        bool done = false;  // compressed, waiting for its turn to be written
        ByteBuffer out;
    };

    bool putSpilling(const void *p, std::size_t n) noexcept;
    bool submit(bool last) noexcept;
    bool encode(Slot &slot, Compressor *compressor) noexcept;
    bool writeSlot(const Slot &slot) noexcept;
    void compressor(Compressor *compressor) noexcept;
    void writer() noexcept;
    void fail(int error) noexcept;
    void stopHelpers() noexcept;

    int fd_ = -1;
    bool own_fd_ = false;
    bool finished_ = false;
    std::string path_, temp_;  // temp_ empty when writing directly
    const FormatInfo *format_ = nullptr;

    std::unique_ptr<Slot[]> slots_;
    std::size_t slot_count_ = 0;
    std::size_t slot_bytes_ = 0;
    char *cur_ = nullptr, *lim_ = nullptr;
    // One for each compressing helper, or the caller's.
    std::vector<std::unique_ptr<Compressor>> compressors_;
    std::vector<std::thread> helpers_;

    std::mutex mu_;
    std::condition_variable work_;   // compressing helpers wait for slots to compress
    std::condition_variable ready_;  // the writing helper waits for the next slot's bytes
    std::condition_variable freed_;  // the caller waits for slots to be written
    uint64_t filled_ = 0;            // slots handed over
    uint64_t claimed_ = 0;           // slots a helper has taken
    uint64_t written_ = 0;           // slots written
    bool stop_ = false;
    std::atomic<bool> failed_{false};
    char why_[128] = {};
};

}  // namespace fast

#endif
