// The xz back end: one stream after another through liblzma.
#include <lzma.h>

#include <new>

#include "codecs/decompress.hpp"

namespace fast {

namespace {

class XzDecompressor final : public Decompressor {
  public:
    XzDecompressor() noexcept { reset(); }
    ~XzDecompressor() override { lzma_end(&stream_); }
    XzDecompressor(const XzDecompressor &) = delete;
    XzDecompressor &operator=(const XzDecompressor &) = delete;

    bool ready() const noexcept { return ready_; }
    // A decoder set up again keeps the memory of the one before where it can.
    void reset() noexcept override {
        ready_ = lzma_stream_decoder(&stream_, UINT64_MAX, 0) == LZMA_OK;
    }
    Result step(const unsigned char *in, std::size_t in_len, std::size_t &consumed,
                unsigned char *out, std::size_t out_len, std::size_t &produced,
                bool /*last*/) noexcept override {
        if (!ready_) return Result::corrupt;
        stream_.next_in = in;
        stream_.avail_in = in_len;
        stream_.next_out = out;
        stream_.avail_out = out_len;
        const lzma_ret rc = lzma_code(&stream_, LZMA_RUN);
        consumed = in_len - stream_.avail_in;
        produced = out_len - stream_.avail_out;
        switch (rc) {
            case LZMA_STREAM_END:
                return Result::stream_end;
            case LZMA_OK:
            case LZMA_BUF_ERROR:  // no progress: more input is needed
                return Result::progress;
            default:  // bad data, options or checksum, or no memory for the dictionary
                return Result::corrupt;
        }
    }

  private:
    lzma_stream stream_ = LZMA_STREAM_INIT;
    bool ready_ = false;
};

}  // namespace

std::unique_ptr<Decompressor> makeXzDecompressor() {
    return makeReady<XzDecompressor>();
}

}  // namespace fast
