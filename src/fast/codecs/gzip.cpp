// The gzip back ends: reading one member after another, over whichever inflate library the build
// uses, and writing BGZF, members of at most 65280 bytes of text that state their own size.
#include "codecs/gzip.hpp"

#include <unistd.h>

#include <algorithm>
#include <new>

#include "codecs/compress.hpp"
#include "codecs/inflate.hpp"

namespace fast {

namespace {

class GzipDecompressor final : public Decompressor {
  public:
    bool ready() const noexcept { return inflater_.ready(); }
    void reset() noexcept override {
        inflater_.reset();
        header_ = BlockHeader{};
        consumed_ = 0;
        inside_ = false;
        trailer_ = 0;
    }
    Result step(const unsigned char *in, std::size_t in_len, std::size_t &consumed,
                unsigned char *out, std::size_t out_len, std::size_t &produced,
                bool /*last*/) noexcept override {
        if (trailer_ > 0) {
            consumed = 0;
            produced = 0;
            return passTrailer(in_len, consumed);
        }
        const MemberInflater::Result r =
            inflater_.step(in, in_len, consumed, out, out_len, produced);
        if (!inside_)
            for (std::size_t i = 0; i < consumed && !header_.done(); ++i) header_.feed(in[i]);
        consumed_ += consumed;
        if (r == MemberInflater::Result::corrupt) return Result::corrupt;
        if (r == MemberInflater::Result::progress) return Result::progress;
        if (inside_) {
            // Entered inside the member: its trailer's CRC covers text never inflated here, so
            // it is passed over, in this call already as far as the input goes.
            trailer_ = kTrailer - std::min(kTrailer, inflater_.heldBytes());
            return passTrailer(in_len, consumed);
        }
        // A member that names its size in a BC field must have that size, so that reading its
        // blocks apart (in parallel) and reading it through give the same text.
        if (header_.block_size > 0 && consumed_ != header_.block_size) return Result::corrupt;
        return Result::stream_end;
    }

    bool whole(const unsigned char *in, std::size_t in_len, unsigned char *out, std::size_t out_len,
               std::size_t &produced) noexcept override {
        return inflater_.whole(in, in_len, out, out_len, produced);
    }

    bool startInside(unsigned bits, unsigned char byte, const unsigned char *window,
                     std::size_t window_len) noexcept override {
        reset();
        inside_ = inflater_.startInside(bits, byte, window, window_len);
        return inside_;
    }

  private:
    static constexpr std::size_t kTrailer = 8;
    Result passTrailer(std::size_t in_len, std::size_t &consumed) noexcept {
        const std::size_t skip = std::min(trailer_, in_len - consumed);
        consumed += skip;
        trailer_ -= skip;
        return trailer_ == 0 ? Result::stream_end : Result::progress;
    }

    MemberInflater inflater_;
    bool inside_ = false;  // started inside a member (startInside)
    std::size_t trailer_ = 0;
    BlockHeader header_;
    std::size_t consumed_ = 0;
};

}  // namespace

void BlockHeader::feed(unsigned char byte) noexcept {
    const std::size_t k = at_++;
    if (k < 12) {
        if (k == 3 && (byte & 4) == 0) {
            at_ = kDone;  // no extra field
        } else if (k == 10) {
            extra_ = byte;
        } else if (k == 11) {
            extra_ |= static_cast<std::size_t>(byte) << 8;
            if (extra_ == 0) at_ = kDone;
        }
        return;
    }
    // Inside the extra field: subfields of two id bytes, a two-byte length and their data.
    const std::size_t f = field_at_++;
    if (f < 4) {
        field_[f] = byte;
        if (f == 3) field_len_ = field_[2] | static_cast<std::size_t>(field_[3]) << 8;
    } else if (field_[0] == 'B' && field_[1] == 'C' && field_len_ == 2) {
        bsize_ |= static_cast<std::size_t>(byte) << (8 * (f - 4));
        if (f == 5) block_size = bsize_ + 1;
    }
    if (field_at_ >= 4 && field_at_ == 4 + field_len_) {
        field_at_ = 0;
        bsize_ = 0;
    }
    if (at_ == 12 + extra_) at_ = kDone;
}

std::size_t bgzfBlockSize(const unsigned char *p, std::size_t n) noexcept {
    if (n < kBgzfHeader || p[0] != 0x1f || p[1] != 0x8b || p[2] != 8 || (p[3] & 4) == 0) return 0;
    const std::size_t extra = p[10] | static_cast<std::size_t>(p[11]) << 8;
    if (n < 12 + extra) return 0;
    BlockHeader h;
    for (std::size_t i = 0; i < 12 + extra; ++i) h.feed(p[i]);
    // The header, an empty deflate block and the trailer at the least.
    return h.block_size >= 12 + extra + 2 + 8 ? h.block_size : 0;
}

std::unique_ptr<Decompressor> makeGzipDecompressor() {
    return makeReady<GzipDecompressor>();
}

namespace {

// The text's size that a file of BGZF blocks records, a block at a time: each block's header
// gives its size, and its trailer its text's. Only a few bytes of each block are read: the size
// at the end of one and the header of the next, together. -1 unless the data is BGZF blocks to
// its end, as far as their headers tell.
int64_t bgzfRecordedSize(int fd, int64_t from, int64_t size) noexcept {
    // A block's text size, then the next block's header (a BGZF header holds 18 bytes, more
    // when its extra field holds other subfields too).
    unsigned char buf[4 + 64];
    ssize_t got = ::pread(fd, buf + 4, sizeof buf - 4, from);
    int64_t at = 0, text = 0;
    while (got > 0) {
        const std::size_t block = bgzfBlockSize(buf + 4, static_cast<std::size_t>(got));
        if (block == 0 || static_cast<int64_t>(block) > size - at) return -1;
        at += static_cast<int64_t>(block);
        got = ::pread(fd, buf,
                      static_cast<std::size_t>(
                          std::min<int64_t>(static_cast<int64_t>(sizeof buf), size - at + 4)),
                      from + at - 4);
        if (got < 4) return -1;
        text += le32(buf);
        if (at == size) return text;
        got -= 4;
    }
    return -1;
}

}  // namespace

int64_t gzipRecordedSize(int fd, int64_t from, int64_t size) noexcept {
    const int64_t blocks = bgzfRecordedSize(fd, from, size);
    if (blocks >= 0) return blocks;
    // A member ends with its text's size modulo 2^32: exact for a single member of less than
    // 4 GiB, and surely wrong when it is less than the compressed size.
    unsigned char tail[4];
    if (size < 20 || ::pread(fd, tail, 4, from + size - 4) != 4) return -1;
    const int64_t isize = le32(tail);
    // No deflate data expands more than 1032 times: a damaged trailer asks no more.
    return isize < size ? -1 : std::min(isize, 1032 * size);
}

namespace {

constexpr std::size_t kBgzfTrailer = 8;

// The empty block that ends a BGZF file.
constexpr unsigned char kBgzfEnd[28] = {0x1f, 0x8b, 8,    4, 0, 0, 0, 0, 0, 0xff, 6, 0, 'B', 'C',
                                        2,    0,    0x1b, 0, 3, 0, 0, 0, 0, 0,    0, 0, 0,   0};

void putLe32(unsigned char *p, uint32_t v) noexcept {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

class BgzfCompressor final : public Compressor {
  public:
    explicit BgzfCompressor(int level) noexcept : deflater_(level) {}
    bool ready() const noexcept { return deflater_.ready(); }

    // Every block starts afresh: a slot's end is a split point as it is.
    bool compress(const unsigned char *text, std::size_t n, SlotEnd end,
                  ByteBuffer &out) noexcept override {
        for (std::size_t at = 0; at < n; at += kBgzfWriteText)
            if (!block(text + at, std::min(kBgzfWriteText, n - at), out)) return false;
        if (end != SlotEnd::text) return true;
        if (!out.reserve(sizeof kBgzfEnd)) return false;
        std::copy(kBgzfEnd, kBgzfEnd + sizeof kBgzfEnd, out.end());
        out.grew(sizeof kBgzfEnd);
        return true;
    }

  private:
    bool block(const unsigned char *text, std::size_t n, ByteBuffer &out) noexcept {
        if (!out.reserve(kBgzfMaxBlock)) return false;
        unsigned char *const b = out.end();
        unsigned char *const data = b + kBgzfHeader;
        const std::size_t room = kBgzfMaxBlock - kBgzfHeader - kBgzfTrailer;
        std::size_t len = deflater_.deflate(text, n, data, room);
        if (len == 0) {
            // Text that does not shrink goes into one stored deflate block, which always fits.
            data[0] = 1;
            data[1] = static_cast<unsigned char>(n);
            data[2] = static_cast<unsigned char>(n >> 8);
            data[3] = static_cast<unsigned char>(~n);
            data[4] = static_cast<unsigned char>(~n >> 8);
            std::copy(text, text + n, data + 5);
            len = n + 5;
        }
        const std::size_t size = kBgzfHeader + len + kBgzfTrailer;
        // The end block's header up to its size field is every block's header.
        std::copy(kBgzfEnd, kBgzfEnd + 16, b);
        b[16] = static_cast<unsigned char>(size - 1);
        b[17] = static_cast<unsigned char>((size - 1) >> 8);
        putLe32(data + len, gzipCrc(0, text, n));
        putLe32(data + len + 4, static_cast<uint32_t>(n));
        out.grew(size);
        return true;
    }

    BlockDeflater deflater_;
};

}  // namespace

std::unique_ptr<Compressor> makeBgzfCompressor(int level, int /*workers*/) {
    std::unique_ptr<BgzfCompressor> c(new (std::nothrow) BgzfCompressor(level));
    if (!c || !c->ready()) return nullptr;
    return c;
}

}  // namespace fast
