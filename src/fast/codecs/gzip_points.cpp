// The gzip back end that stops at deflate blocks, over zlib in every build (zlib is linked beside
// ISA-L too): building a record index stops at the blocks of a member and keeps their windows.
#include <zlib.h>

#include <algorithm>
#include <new>

#include "codecs/decompress.hpp"
#include "codecs/gzip.hpp"
#include "codecs/inflate.hpp"

namespace fast {

namespace {

class GzipPointDecompressor final : public Decompressor {
  public:
    GzipPointDecompressor() noexcept { open_ = inflateInit2(&z_, 16 + MAX_WBITS) == Z_OK; }
    ~GzipPointDecompressor() override {
        if (open_) inflateEnd(&z_);
    }
    GzipPointDecompressor(const GzipPointDecompressor &) = delete;
    GzipPointDecompressor &operator=(const GzipPointDecompressor &) = delete;
    bool ready() const noexcept { return open_; }

    void reset() noexcept override {
        inflateReset2(&z_, 16 + MAX_WBITS);
        header_ = BlockHeader{};
        consumed_ = 0;
        bits_ = -1;
    }

    Result step(const unsigned char *in, std::size_t in_len, std::size_t &consumed,
                unsigned char *out, std::size_t out_len, std::size_t &produced,
                bool /*last*/) noexcept override {
        bits_ = -1;
        const int rc = inflateCall(z_, in, in_len, consumed, out, out_len, produced,
                                   [](z_stream &z) { return inflate(&z, Z_BLOCK); });
        for (std::size_t i = 0; i < consumed && !header_.done(); ++i) header_.feed(in[i]);
        consumed_ += consumed;
        if (rc == Z_STREAM_END) {
            // The size a BC field states is checked as the other gzip back end checks it.
            if (header_.block_size > 0 && consumed_ != header_.block_size) return Result::corrupt;
            return Result::stream_end;
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR) return Result::corrupt;
        // At a block's start (128), not after the last block (64), and not at the first block
        // of a member, which starts with the member.
        if ((z_.data_type & 128) != 0 && (z_.data_type & 64) == 0 && z_.total_out > 0)
            bits_ = z_.data_type & 7;
        return Result::progress;
    }

    int blockBits() noexcept override { return bits_; }

    std::size_t window(unsigned char *out) noexcept override {
        uInt len = static_cast<uInt>(kWindow);
        if (inflateGetDictionary(&z_, out, &len) != Z_OK) return 0;
        return len;
    }

  private:
    static constexpr std::size_t kWindow = std::size_t{1} << 15;
    z_stream z_{};
    bool open_ = false;
    BlockHeader header_;
    std::size_t consumed_ = 0;
    int bits_ = -1;
};

}  // namespace

std::unique_ptr<Decompressor> makeGzipPointDecompressor() {
    return makeReady<GzipPointDecompressor>();
}

}  // namespace fast
