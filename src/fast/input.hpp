// The input layer: one byte source for plain files, pipes and gzip streams, shared by the
// decoders and the command. Its users ask for text and never branch on where it comes from,
// except to learn whether its size is known in advance.
#ifndef FAST_INPUT_HPP
#define FAST_INPUT_HPP

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>

namespace fast {

class Input {
  public:
    Input() noexcept;
    ~Input();
    Input(const Input &) = delete;
    Input &operator=(const Input &) = delete;

    // Opens `path` ("-" is standard input when dash_is_stdin) and looks at its first two bytes:
    // 0x1f 0x8b make it gzip. False, with errno set, when it cannot be opened, when it is a
    // directory (EISDIR), or when the inflate state or buffers cannot be had (ENOMEM).
    bool open(const char *path, bool dash_is_stdin = false) noexcept;

    // Whether the text is inflated from gzip members.
    bool compressed() const noexcept { return compressed_; }
    // Whether the source is a regular file (it can then be opened again with the same content).
    bool regular() const noexcept { return regular_; }
    // The byte count of a regular file: of the text when plain, of the compressed data when
    // compressed; -1 for anything else.
    int64_t fileSize() const noexcept { return file_size_; }
    // The text's size when it is known before reading: a plain regular file's size, else -1.
    int64_t textSize() const noexcept { return compressed_ ? -1 : file_size_; }
    // A first guess at the text's size when textSize() cannot tell: what the gzip trailer of
    // the last member records, when that is plausible for the whole file, else a few times the
    // compressed size, or a few MiB for a pipe.
    int64_t sizeHint() const noexcept { return size_hint_; }
    // Whether sizeHint() is the size a gzip trailer records (exact for a single member).
    bool sizeHintRecorded() const noexcept { return hint_recorded_; }

    // Reads up to n bytes of text into buf: the count (which may be short, as a pipe gives what
    // it holds), 0 at the end, -1 on failure with why() saying what went wrong. The end and
    // failures are final.
    int64_t read(char *buf, std::size_t n) noexcept;

    // Why the last read failed: the system's text of the read error, or what is wrong with the
    // compressed data (it names the compressed data).
    const char *why() const noexcept { return why_; }

    // Moves reading (and inflating) to a helper thread that keeps a few MiB ahead of read().
    // The thread ends with the Input, or at the end of the text. False when no thread could be
    // started; reading then goes on in the calling thread.
    bool readAhead() noexcept;

  private:
    struct Gzip;
    struct Ahead;
    int64_t readText(char *buf, std::size_t n) noexcept;
    int64_t readPlain(char *buf, std::size_t n) noexcept;
    int64_t readGzip(char *buf, std::size_t n) noexcept;
    int64_t fill() noexcept;
    void fail(const char *why) noexcept;

    int fd_ = -1;
    bool own_fd_ = false;
    bool compressed_ = false;
    bool regular_ = false;
    int status_ = 0;    // 0 while reading, 1 at the end, -1 after a failure
    int wake_fd_ = -1;  // signalled to stop a read that waits, when reading ahead
    int64_t file_size_ = -1;
    int64_t size_hint_ = -1;
    bool hint_recorded_ = false;
    // Bytes read from the source but not yet used: the sniffed magic, or compressed data.
    std::unique_ptr<unsigned char[]> raw_;
    std::size_t raw_cap_ = 0, raw_pos_ = 0, raw_end_ = 0;
    bool raw_eof_ = false;
    std::unique_ptr<Gzip> gzip_;
    std::unique_ptr<Ahead> ahead_;
    char why_[128] = {};
};

// In a build with FAST_HUGE_PAGES, advises the pages of [p, p + n) for transparent huge pages
// before their first write: every later pass over a whole-file buffer then misses the TLB far
// less, and the first touch costs one fault per 2 MiB. Changes no byte and may be refused by
// the system; blocks under 4 MiB are left alone. Without FAST_HUGE_PAGES it does nothing.
void adviseHugePages(void *p, std::size_t n) noexcept;

// Faults the pages of [p, p + n) in on a helper thread, ahead of the calling thread's first
// writes, so that what fresh memory costs the system overlaps the caller's work. Changes no
// byte; does nothing for blocks under 4 MiB or where the system cannot populate pages. The
// thread ends at stop() or with the object.
class Prefault {
  public:
    Prefault(void *p, std::size_t n) noexcept;
    ~Prefault() { stop(); }
    Prefault(const Prefault &) = delete;
    Prefault &operator=(const Prefault &) = delete;
    void stop() noexcept;

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace fast

#endif
