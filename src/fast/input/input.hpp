// The input layer: one byte source for plain files, pipes and compressed streams, shared by the
// decoders, the streaming reader and the command. Its users ask for text and never branch on
// where it comes from, except to learn whether its size is known in advance.
#ifndef FAST_INPUT_HPP
#define FAST_INPUT_HPP

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>

#include "codecs/decompress.hpp"
#include "input/points.hpp"

namespace fast {

class Input {
  public:
    Input() noexcept;
    ~Input();
    Input(const Input &) = delete;
    Input &operator=(const Input &) = delete;

    // Opens `path` ("-" is standard input when dash_is_stdin) and looks at its first bytes for
    // the magic of a compressed format. False, with errno set, when it cannot be opened, when it
    // is a directory (EISDIR), or when the decompressor cannot be had (ENOMEM). A format this
    // build cannot read opens, and its first read fails with a reason that names the format.
    bool open(const char *path, bool dash_is_stdin = false) noexcept;

    // Reports to `sink` the split points that reading passes, from the start of the text: in
    // plain text any offset, in compressed data where a stream (a gzip member, a BGZF block, a
    // zstd frame, an xz or bzip2 stream) starts, and inside a gzip member where a deflate block
    // starts. Before readAhead(); the sink must outlive the reading.
    bool observe(PointSink *sink) noexcept;
    // Starts reading at `point` of this regular file instead of its start: the first byte read
    // is that of the text at point.text. Before readAhead(). False, with errno set, when the
    // file cannot start there (EINVAL: not a regular file, or a point of another format).
    bool startAt(const StartPoint &point) noexcept;

    // Whether the text is compressed, in a format this build reads or not.
    bool compressed() const noexcept { return format_ != nullptr; }
    // The compressed format, or nullptr for plain text.
    const FormatInfo *format() const noexcept { return format_; }
    // Whether the text can be read: plain, or in a format this build reads.
    bool readable() const noexcept { return format_ == nullptr || format_->make != nullptr; }
    // Whether the source is a regular file (it can then be opened again with the same content).
    bool regular() const noexcept { return regular_; }
    // The byte count of a regular file: of the text when plain, of the compressed data when
    // compressed; -1 for anything else.
    int64_t fileSize() const noexcept { return file_size_; }
    // The text's size when it is known before reading: a plain regular file's size, else -1.
    int64_t textSize() const noexcept { return compressed() ? -1 : file_size_; }
    // A first guess at the text's size when textSize() cannot tell: what the compressed data
    // records (a gzip trailer or every BGZF block's, a zstd frame header), when that is
    // plausible for the whole file, else a few times the compressed size, or a few MiB for a
    // pipe. What the data records is read at the first call, as only a caller that sizes a
    // block by it needs it (a BGZF file is read a few bytes a block for it).
    int64_t sizeHint() noexcept;
    // Whether sizeHint() is a size the data records (exact for a single stream or BGZF).
    bool sizeHintRecorded() noexcept {
        sizeHint();
        return hint_recorded_;
    }

    // Reads up to n bytes of text into buf: the count (which may be short, as a pipe gives what
    // it holds), 0 at the end, -1 on failure with why() saying what went wrong. The end and
    // failures are final.
    int64_t read(char *buf, std::size_t n) noexcept;

    // Why the last read failed: the system's text of the read error, or what is wrong with the
    // compressed data (it names the compressed data).
    const char *why() const noexcept;

    // How text is read ahead of read() and take(): into `slots` blocks of `slot` bytes, each
    // with `headroom` bytes before it that its taker may write (to put text before it) and one
    // byte after it. `helpers` threads fill them (none: each block is filled in the calling
    // thread when it is taken). BGZF blocks are inflated whole and checked before their text is
    // handed over; with more than one helper, several at once, delivered in order.
    // With `place`, the text goes straight into place[0, place_size) instead, each block at its
    // offset in the text, as long as it fits; from the first block that does not, into blocks
    // of their own again. A block put there has neither headroom nor a byte after it, and one
    // read() into it where it stands copies nothing. The helpers write there until the reader
    // has passed place_size or stopAhead() has returned.
    struct AheadOptions {
        int helpers = 1;
        std::size_t slot = std::size_t{1} << 20;
        std::size_t slots = 4;
        std::size_t headroom = 0;
        char *place = nullptr;
        std::size_t place_size = 0;
    };

    // How to read ahead with `threads` threads in all, the taker's among them: threads - 1
    // helpers, at most 63. With 0 the text decides: gzip data gets a helper a core (up to 8),
    // since the BGZF blocks it may hold inflate several at once, anything else one helper. A
    // taker whose own work keeps a core busy (`busy_taker`) leaves that core out. Each helper
    // has a block to fill while the taker holds two.
    AheadOptions aheadFor(int32_t threads, bool busy_taker = false) const noexcept;

    // Sets up reading ahead; the helpers end with the Input, or at the end of the text. False
    // when the blocks cannot be had; reading then goes on as before. Where no thread can be
    // started, the taker fills each block itself. Once only.
    bool readAhead(const AheadOptions &options) noexcept;
    bool readAhead() noexcept { return readAhead(AheadOptions{}); }

    // The next block of text, after readAhead(): its size (at least 1), 0 at the end, or -1 on
    // failure (why() says what went wrong). The block's text is data[0, size); the `headroom`
    // bytes before it and the one byte after it are the taker's. It stays valid, as does every
    // block taken after it, until it is given back. Not to be mixed with read().
    struct Chunk {
        char *data = nullptr;
        std::size_t size = 0;
    };
    int64_t take(Chunk &chunk) noexcept;
    // Gives the oldest block taken and not yet given back to the helpers.
    void giveBack() noexcept;
    // Ends reading ahead: stops the helpers and waits for them, so that none writes any more.
    // Nothing is read after it.
    void stopAhead() noexcept;

  private:
    struct Ahead;
    struct BgzfJob;
    enum class Stage { stream, between, padding, done };
    int64_t readText(char *buf, std::size_t n) noexcept;
    int64_t readPlain(char *buf, std::size_t n) noexcept;
    int64_t readCompressed(char *buf, std::size_t n) noexcept;
    int64_t fill() noexcept;
    void fail(const char *why, const char *detail = nullptr) noexcept;
    bool fillSlot(bool wait, BgzfJob &job) noexcept;
    bool takeBlocks(BgzfJob &job, std::size_t room) noexcept;
    int64_t readRaw(unsigned char *to, std::size_t n) noexcept;
    int64_t readAheadCopy(char *buf, std::size_t n) noexcept;
    // The file offset of the next compressed byte not yet used.
    int64_t rawOffset() const noexcept {
        return read_at_ - static_cast<int64_t>(raw_end_ - raw_pos_);
    }
    void notePoint(PointKind kind, int64_t at, int64_t text, int bits = 0) noexcept;

    int fd_ = -1;
    bool own_fd_ = false;
    bool regular_ = false;
    int status_ = 0;    // 0 while reading, 1 at the end, -1 after a failure
    int wake_fd_ = -1;  // signalled to stop a read that waits, when reading ahead
    int64_t file_size_ = -1;
    int64_t size_hint_ = -1;  // -2 until a regular compressed file's data is asked
    bool hint_recorded_ = false;
    int64_t from_ = 0;  // where a regular file's text starts
    // Bytes read from the source but not yet used: the sniffed magic, or compressed data.
    std::unique_ptr<unsigned char[]> raw_;
    std::size_t raw_cap_ = 0, raw_pos_ = 0, raw_end_ = 0;
    bool raw_eof_ = false;
    const FormatInfo *format_ = nullptr;
    std::unique_ptr<Decompressor> decompressor_;
    // A compressed text starts between streams: the first is taken as the next.
    Stage stage_ = Stage::between;
    uint64_t padded_ = 0;  // zero bytes of the padding read so far
    std::unique_ptr<Ahead> ahead_;
    // Split points: where they are reported, the file offset after the bytes read so far, and
    // the text handed over so far (both kept by the one reader at a time).
    PointSink *points_ = nullptr;
    int64_t read_at_ = 0;
    int64_t text_at_ = 0;
    // read()'s place in the block it copies from, when reading ahead.
    Chunk copying_;
    std::size_t copied_ = 0;
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
