// The zlib back end of MemberInflater, for systems without ISA-L.
#include <zlib.h>

#include <new>

#include "codecs/inflate.hpp"

namespace fast {

struct MemberInflater::State {
    z_stream z{};
    bool open = false;
    ~State() {
        if (open) inflateEnd(&z);
    }
};

MemberInflater::MemberInflater() : state_(new (std::nothrow) State) {
    // 16 + 15: a gzip wrapper around a deflate stream with a window of up to 32 KiB.
    if (state_ && inflateInit2(&state_->z, 16 + MAX_WBITS) == Z_OK)
        state_->open = true;
    else
        state_.reset();
}
MemberInflater::~MemberInflater() = default;

void MemberInflater::reset() noexcept {
    if (state_) inflateReset2(&state_->z, 16 + MAX_WBITS);
}

bool MemberInflater::startInside(unsigned bits, unsigned char byte, const unsigned char *window,
                                 std::size_t window_len) noexcept {
    z_stream &z = state_->z;
    if (bits > 7 || window_len > (std::size_t{1} << 15) || inflateReset2(&z, -MAX_WBITS) != Z_OK)
        return false;
    if (bits > 0 && inflatePrime(&z, static_cast<int>(bits), byte >> (8 - bits)) != Z_OK)
        return false;
    return window_len == 0 ||
           inflateSetDictionary(&z, window, static_cast<uInt>(window_len)) == Z_OK;
}

MemberInflater::Result MemberInflater::step(const unsigned char *in, std::size_t in_len,
                                            std::size_t &consumed, unsigned char *out,
                                            std::size_t out_len, std::size_t &produced) noexcept {
    const int rc = inflateCall(state_->z, in, in_len, consumed, out, out_len, produced,
                               [](z_stream &z) { return inflate(&z, Z_NO_FLUSH); });
    if (rc == Z_STREAM_END) return Result::member_end;
    if (rc == Z_OK || rc == Z_BUF_ERROR) return Result::progress;
    return Result::corrupt;  // Z_DATA_ERROR, Z_NEED_DICT, Z_MEM_ERROR, Z_STREAM_ERROR
}

std::size_t MemberInflater::heldBytes() const noexcept {
    return 0;
}

bool MemberInflater::whole(const unsigned char *, std::size_t, unsigned char *, std::size_t,
                           std::size_t &produced) noexcept {
    // zlib inflates a whole member no faster in one call than step by step.
    produced = 0;
    return false;
}

const char *MemberInflater::backend() noexcept {
    return "zlib";
}

}  // namespace fast
