// The output layer, the mirror of the input layer: one byte sink for regular files, standard
// output, pipes and devices, plain or in any written format. Its users put text and never branch
// on where it goes or how it is compressed.
//
// Text is put into slots of a fixed size. A full slot is handed to the helpers, which compress
// it (several at once where the format's blocks are compressed apart) and write the slots in
// order, while the caller fills the next one. A regular file is written to a new file in its
// folder and put in place by finish(), only once every byte is written and synced; anything else
// (standard output, a pipe, a FIFO, a device) is written directly. The new file has no name
// (O_TMPFILE) until it is linked in at the end, so that a killed process leaves nothing; where
// the file system refuses that, it is named ".NAME.XXXXXXXX.part" beside the final name.
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

// How a file is written and put in place.
struct OutputSettings {
    int level = 0;               // 0: the format's default
    int threads = 0;             // at most, the caller's included: 0 as many as help, 1 no helper
    bool sync = true;            // fdatasync before the file is put in place
    bool unnamed = true;         // an unnamed file where the system has them; else a ".part" file
    std::size_t slot_bytes = 0;  // 0: about 1 MiB; else rounded up to whole blocks
    // Text between the split points recorded (see Output::points()), rounded up to whole slots:
    // 0 records none.
    std::size_t point_text = 0;
};

// A place where reading the written file can start afresh: a slot's start, where every format
// written starts a block or frame when points are recorded.
struct OutputPoint {
    int64_t text;  // the text offset
    int64_t at;    // the file offset
};

class Output {
  public:
    Output() noexcept = default;
    // Ends the helpers and, unless finish() succeeded, removes the file written beside the
    // final name.
    ~Output();
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    // Opens `path` ("-": standard output) for text in `format` (nullptr: plain; else a format
    // with a writer) as `settings` say. False with errno set: EINVAL for a level the format
    // does not take or a negative thread count, ENOENT, EACCES, EISDIR, ... for a path that
    // cannot be created, ENOMEM. Text goes out in slots of about 1 MiB, or of the settings'
    // slot_bytes rounded up to whole blocks of the format (tests want slots that entries cross).
    bool open(const char *path, const FormatInfo *format, const OutputSettings &settings) noexcept;

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

    // Writes what is left and the format's end, waits for the helpers, syncs, closes and puts
    // the file in place. True only when all of that succeeded; once only. It is complete(),
    // then place() with `alone`.
    bool finish() noexcept { return complete() && place(true); }

    // The steps of finish(), so that several files can be completed before any is put in
    // place. complete() writes and syncs; stage() names an unnamed file beside its final name
    // and closes every file; place() renames it onto the name (`alone`: an unnamed file is
    // linked straight onto a name where nothing is, and staged only to replace a file). Each
    // is true on success and false, with the failure recorded, on any failure before or now.
    bool complete() noexcept;
    bool stage() noexcept;
    bool place(bool alone) noexcept;
    // Whether place() succeeded.
    bool placed() const noexcept { return finished_; }
    // Whether the output is a file put in place at the end, not standard output, a pipe or a
    // device.
    bool placing() const noexcept { return own_fd_ && (unnamed_ || !temp_.empty()); }

    // The text put so far.
    int64_t textAt() const noexcept {
        // The current slot starts a slot's size before its limit.
        return static_cast<int64_t>(filled_ * slot_bytes_ + slot_bytes_) - (lim_ - cur_);
    }
    // The text between split points, a multiple of the slot size (0: none are recorded), and
    // the points, one each that much text, in order: all of them once complete() succeeded.
    int64_t pointText() const noexcept { return static_cast<int64_t>(point_every_ * slot_bytes_); }
    const std::vector<OutputPoint> &points() const noexcept { return points_; }
    // Called by complete() once every byte is written and synced, before the file is closed,
    // with a descriptor open for reading and writing: false fails the output, with errno.
    void whenComplete(bool (*call)(int fd, void *arg), void *arg) noexcept {
        when_complete_ = call;
        when_complete_arg_ = arg;
    }

  private:
    struct Slot {
        std::unique_ptr<char[]> text;
        std::size_t len = 0;
        uint64_t number = 0;  // of the slots handed over, from 0
        SlotEnd end = SlotEnd::more;
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
    bool openUnnamed() noexcept;
    bool link(const std::string &name) noexcept;
    bool closeFile() noexcept;

    int fd_ = -1;
    bool own_fd_ = false;
    bool finished_ = false;
    bool completed_ = false;
    bool sync_ = true;
    bool unnamed_ = false;     // fd_ is a file without a name yet
    std::string path_, temp_;  // temp_ empty when writing directly or unnamed
    const FormatInfo *format_ = nullptr;

    std::unique_ptr<Slot[]> slots_;
    std::size_t slot_count_ = 0;
    std::size_t slot_bytes_ = 0;
    char *cur_ = nullptr, *lim_ = nullptr;
    // Split points: one each point_every_ slots (0: none), recorded by the one that writes.
    uint64_t point_every_ = 0;
    int64_t file_at_ = 0;  // the bytes written
    std::vector<OutputPoint> points_;
    bool (*when_complete_)(int, void *) = nullptr;
    void *when_complete_arg_ = nullptr;
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
