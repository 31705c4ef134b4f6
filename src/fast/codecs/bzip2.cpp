// The bzip2 back end: one stream after another through libbz2, which is set up anew for each
// (parallel compressors write one stream per block).
#include <bzlib.h>

#include <new>

#include "codecs/decompress.hpp"
#include "codecs/inflate.hpp"

namespace fast {

namespace {

class Bzip2Decompressor final : public Decompressor {
  public:
    Bzip2Decompressor() noexcept { reset(); }
    ~Bzip2Decompressor() override { end(); }
    Bzip2Decompressor(const Bzip2Decompressor &) = delete;
    Bzip2Decompressor &operator=(const Bzip2Decompressor &) = delete;

    bool ready() const noexcept { return open_; }
    void reset() noexcept override {
        end();
        stream_ = bz_stream{};
        open_ = BZ2_bzDecompressInit(&stream_, 0, 0) == BZ_OK;
    }
    Result step(const unsigned char *in, std::size_t in_len, std::size_t &consumed,
                unsigned char *out, std::size_t out_len, std::size_t &produced,
                bool /*last*/) noexcept override {
        if (!open_) return Result::corrupt;
        const int rc = inflateCall(stream_, in, in_len, consumed, out, out_len, produced,
                                   [](bz_stream &s) { return BZ2_bzDecompress(&s); });
        if (rc == BZ_STREAM_END) return Result::stream_end;
        // BZ_DATA_ERROR, BZ_DATA_ERROR_MAGIC (bad data or checksum), BZ_MEM_ERROR
        return rc == BZ_OK ? Result::progress : Result::corrupt;
    }

  private:
    void end() noexcept {
        if (open_) BZ2_bzDecompressEnd(&stream_);
        open_ = false;
    }

    bz_stream stream_{};
    bool open_ = false;
};

}  // namespace

std::unique_ptr<Decompressor> makeBzip2Decompressor() {
    return makeReady<Bzip2Decompressor>();
}

}  // namespace fast
