// The gzip back end: one member after another, over whichever inflate library the build uses.
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

}  // namespace fast
