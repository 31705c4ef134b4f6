// The compressors of the output layer, the mirror of decompress.hpp: each written format is one
// back end behind Compressor, made from its row of the format table. The output layer hands a
// back end the text in slots of a fixed size and writes what it gives back, in order.
#ifndef FAST_COMPRESS_HPP
#define FAST_COMPRESS_HPP

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace fast {

// A growing malloc() byte buffer that compressors fill; it is reused from slot to slot.
class ByteBuffer {
  public:
    ByteBuffer() = default;
    ~ByteBuffer() { std::free(data_); }
    ByteBuffer(const ByteBuffer &) = delete;
    ByteBuffer &operator=(const ByteBuffer &) = delete;

    unsigned char *data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    std::size_t room() const noexcept { return cap_ - size_; }
    unsigned char *end() const noexcept { return data_ + size_; }
    void clear() noexcept { size_ = 0; }
    void grew(std::size_t n) noexcept { size_ += n; }
    // Makes room for at least n more bytes; false when it cannot be had.
    bool reserve(std::size_t n) noexcept {
        if (cap_ - size_ >= n) return true;
        std::size_t cap = cap_ + cap_ / 2;
        if (cap < size_ + n) cap = size_ + n;
        void *moved = std::realloc(data_, cap);
        if (!moved) return false;
        data_ = static_cast<unsigned char *>(moved);
        cap_ = cap;
        return true;
    }

  private:
    unsigned char *data_ = nullptr;
    std::size_t size_ = 0, cap_ = 0;
};

// Where a slot of text ends: amid the text; where reading must be able to start afresh (a
// split point of a record index), so that a format that compresses slots in one stream ends
// its frame there; or at the text's end.
enum class SlotEnd : uint8_t { more, frame, text };

class Compressor {
  public:
    virtual ~Compressor() = default;
    // Compresses text[0, n) and appends the compressed bytes to `out`. At SlotEnd::text the back
    // end also writes its end (an empty block, the end of the frame); at SlotEnd::frame a back end
    // whose slots are not compressed apart ends its frame, and the next slot starts another.
    // False when memory cannot be had or the library fails.
    virtual bool compress(const unsigned char *text, std::size_t n, SlotEnd end,
                          ByteBuffer &out) noexcept = 0;
};

// What the output layer needs to know of a written format; it sits in the format's row of the
// format table (decompress.hpp), beside its decompressor.
struct WriterInfo {
    int min_level, max_level, default_level;
    // The text slot's size is a multiple of this, so that blocks are cut where they would be
    // whatever the batches were.
    std::size_t unit;
    // Whether slots may be compressed apart, on several helpers at once, each with its own
    // back end; otherwise one back end compresses them all in order.
    bool apart;
    // A new back end at `level` with `workers` threads of its own (0: none), or nullptr when it
    // cannot be had.
    std::unique_ptr<Compressor> (*make)(int level, int workers);
};

// The back ends of the written formats.
std::unique_ptr<Compressor> makeBgzfCompressor(int level, int workers);
std::unique_ptr<Compressor> makeZstdCompressor(int level, int workers);

// The deflate back end of BGZF: one raw deflate stream a call, through ISA-L at the levels it
// offers and through zlib at the others.
class BlockDeflater {
  public:
    explicit BlockDeflater(int level) noexcept;
    ~BlockDeflater();
    BlockDeflater(const BlockDeflater &) = delete;
    BlockDeflater &operator=(const BlockDeflater &) = delete;
    bool ready() const noexcept { return state_ != nullptr; }
    // Deflates in[0, n) into out[0, room) as one whole stream: the bytes written, or 0 when they
    // do not fit (or the library fails).
    std::size_t deflate(const unsigned char *in, std::size_t n, unsigned char *out,
                        std::size_t room) noexcept;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// CRC-32 of gzip, continued from `crc`.
uint32_t gzipCrc(uint32_t crc, const unsigned char *p, std::size_t n) noexcept;

}  // namespace fast

#endif
