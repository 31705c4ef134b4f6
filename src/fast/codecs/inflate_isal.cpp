// The ISA-L back end of MemberInflater.
#include <isa-l/igzip_lib.h>

#include <new>

#include "codecs/inflate.hpp"

namespace fast {

struct MemberInflater::State {
    inflate_state s;
};

MemberInflater::MemberInflater() : state_(new (std::nothrow) State) {
    reset();
}
MemberInflater::~MemberInflater() = default;

void MemberInflater::reset() noexcept {
    if (!state_) return;
    isal_inflate_init(&state_->s);
    state_->s.crc_flag = ISAL_GZIP;
}

MemberInflater::Result MemberInflater::step(const unsigned char *in, std::size_t in_len,
                                            std::size_t &consumed, unsigned char *out,
                                            std::size_t out_len, std::size_t &produced) noexcept {
    inflate_state &s = state_->s;
    const int rc = inflateCall(s, in, in_len, consumed, out, out_len, produced,
                               [](inflate_state &st) { return isal_inflate(&st); });
    if (rc < 0) return Result::corrupt;
    // At the end of a member the read-ahead is handed back, so the next member starts at
    // in + consumed.
    return s.block_state == ISAL_BLOCK_FINISH ? Result::member_end : Result::progress;
}

const char *MemberInflater::backend() noexcept {
    return "ISA-L";
}

}  // namespace fast
