// The gzip back end: one member after another, over whichever inflate library the build uses.
#include <unistd.h>

#include <algorithm>
#include <new>

#include "decompress.hpp"
#include "inflate.hpp"

namespace fast {

namespace {

class GzipDecompressor final : public Decompressor {
  public:
    bool ready() const noexcept { return inflater_.ready(); }
    void reset() noexcept override { inflater_.reset(); }
    Result step(const unsigned char *in, std::size_t in_len, std::size_t &consumed,
                unsigned char *out, std::size_t out_len, std::size_t &produced,
                bool /*last*/) noexcept override {
        switch (inflater_.step(in, in_len, consumed, out, out_len, produced)) {
            case MemberInflater::Result::member_end:
                return Result::stream_end;
            case MemberInflater::Result::corrupt:
                return Result::corrupt;
            case MemberInflater::Result::progress:
                break;
        }
        return Result::progress;
    }

  private:
    MemberInflater inflater_;
};

}  // namespace

std::unique_ptr<Decompressor> makeGzipDecompressor() {
    std::unique_ptr<GzipDecompressor> d(new (std::nothrow) GzipDecompressor);
    if (!d || !d->ready()) return nullptr;
    return d;
}

int64_t gzipRecordedSize(int fd, int64_t from, int64_t size) noexcept {
    // A member ends with its text's size modulo 2^32: exact for a single member of less than
    // 4 GiB, and surely wrong when it is less than the compressed size.
    unsigned char tail[4];
    if (size < 20 || ::pread(fd, tail, 4, from + size - 4) != 4) return -1;
    const int64_t isize =
        int64_t{tail[0]} | int64_t{tail[1]} << 8 | int64_t{tail[2]} << 16 | int64_t{tail[3]} << 24;
    // No deflate data expands more than 1032 times: a damaged trailer asks no more.
    return isize < size ? -1 : std::min(isize, 1032 * size);
}

}  // namespace fast
