// The zstd back ends through libzstd: reading one frame after another (a skippable frame is a
// stream of its own that gives no text), and writing the whole text as one frame, or as one
// frame from each split point where the writer records an index.
#include <unistd.h>
#include <zstd.h>

#include <new>

#include "codecs/compress.hpp"
#include "codecs/decompress.hpp"

namespace fast {

namespace {

// The longest frame header.
constexpr std::size_t kFrameHeaderMax = 18;

class ZstdDecompressor final : public Decompressor {
  public:
    ZstdDecompressor() noexcept : ctx_(ZSTD_createDCtx()) {}
    ~ZstdDecompressor() override { ZSTD_freeDCtx(ctx_); }
    ZstdDecompressor(const ZstdDecompressor &) = delete;
    ZstdDecompressor &operator=(const ZstdDecompressor &) = delete;

    bool ready() const noexcept { return ctx_ != nullptr; }
    void reset() noexcept override { ZSTD_DCtx_reset(ctx_, ZSTD_reset_session_only); }
    Result step(const unsigned char *in, std::size_t in_len, std::size_t &consumed,
                unsigned char *out, std::size_t out_len, std::size_t &produced,
                bool /*last*/) noexcept override {
        ZSTD_inBuffer src{in, in_len, 0};
        ZSTD_outBuffer dst{out, out_len, 0};
        const std::size_t rc = ZSTD_decompressStream(ctx_, &dst, &src);
        consumed = src.pos;
        produced = dst.pos;
        if (ZSTD_isError(rc)) return Result::corrupt;
        // 0: the frame is complete, its checksum checked and all its text handed over.
        return rc == 0 ? Result::stream_end : Result::progress;
    }

  private:
    ZSTD_DCtx *ctx_;
};

}  // namespace

std::unique_ptr<Decompressor> makeZstdDecompressor() {
    return makeReady<ZstdDecompressor>();
}

int64_t zstdRecordedSize(int fd, int64_t from, int64_t size) noexcept {
    // The first frame's header: a writer that knew the text's size put it there (the zstd tool
    // does for a file, in one frame however many threads compressed it).
    unsigned char head[kFrameHeaderMax];
    const ssize_t got = ::pread(fd, head, sizeof head, from);
    if (got <= 0) return -1;
    const unsigned long long text = ZSTD_getFrameContentSize(head, static_cast<std::size_t>(got));
    if (text == ZSTD_CONTENTSIZE_UNKNOWN || text == ZSTD_CONTENTSIZE_ERROR) return -1;
    // A block gives at most 128 KiB from no less than 4 bytes: a damaged header asks no more.
    const unsigned long long most = static_cast<unsigned long long>(size) * 32768;
    return static_cast<int64_t>(text < most ? text : most);
}

namespace {

// The levels whose window is at most kJobBytes, and the job size of libzstd's workers there.
constexpr int kOneWindowLevels = 6;
constexpr int kJobBytes = 2 << 20;

// One frame, compressed by libzstd's own workers when it has any. The frame's content size is
// not known in advance and is not recorded.
class ZstdCompressor final : public Compressor {
  public:
    ZstdCompressor(int level, int workers) noexcept : ctx_(ZSTD_createCCtx()) {
        if (!ctx_) return;
        ok_ = !ZSTD_isError(ZSTD_CCtx_setParameter(ctx_, ZSTD_c_compressionLevel, level)) &&
              !ZSTD_isError(ZSTD_CCtx_setParameter(ctx_, ZSTD_c_checksumFlag, 1));
        // A library built without threads refuses workers and compresses in the caller's thread.
        if (ok_ && workers > 0) ZSTD_CCtx_setParameter(ctx_, ZSTD_c_nbWorkers, workers);
        // libzstd's workers take jobs of four windows by default, each held with its output
        // while it compresses: at the fast levels, whose window is at most 2 MiB, jobs of one
        // window of 2 MiB halve the peak memory (27 MiB in all at level 3 on two workers,
        // against 61 MiB), at no cost in speed or size on reads. At higher levels each job
        // would load a window larger than itself, and the default stays.
        if (ok_ && workers > 0 && level <= kOneWindowLevels)
            ZSTD_CCtx_setParameter(ctx_, ZSTD_c_jobSize, kJobBytes);
    }
    ~ZstdCompressor() override { ZSTD_freeCCtx(ctx_); }
    ZstdCompressor(const ZstdCompressor &) = delete;
    ZstdCompressor &operator=(const ZstdCompressor &) = delete;
    bool ready() const noexcept { return ctx_ && ok_; }

    // A frame ended at a split point is followed by another, which ZSTD_compressStream2 starts
    // on the next call.
    bool compress(const unsigned char *text, std::size_t n, SlotEnd end,
                  ByteBuffer &out) noexcept override {
        ZSTD_inBuffer in{text, n, 0};
        const bool last = end != SlotEnd::more;
        const ZSTD_EndDirective mode = last ? ZSTD_e_end : ZSTD_e_continue;
        for (;;) {
            if (!out.reserve(ZSTD_CStreamOutSize())) return false;
            ZSTD_outBuffer dst{out.end(), out.room(), 0};
            const std::size_t left = ZSTD_compressStream2(ctx_, &dst, &in, mode);
            if (ZSTD_isError(left)) return false;
            out.grew(dst.pos);
            // Done once the input is taken, and at the end once the frame is flushed whole.
            if (in.pos == in.size && (last ? left == 0 : dst.pos < dst.size)) return true;
        }
    }

  private:
    ZSTD_CCtx *ctx_;
    bool ok_ = false;
};

}  // namespace

std::unique_ptr<Compressor> makeZstdCompressor(int level, int workers) {
    std::unique_ptr<ZstdCompressor> c(new (std::nothrow) ZstdCompressor(level, workers));
    if (!c || !c->ready()) return nullptr;
    return c;
}

}  // namespace fast
