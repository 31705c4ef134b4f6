// The ISA-L back end of MemberInflater.
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <climits>
#include <new>

#include "inflate.hpp"

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
    // The lengths are 32-bit fields.
    const uint32_t in_avail = static_cast<uint32_t>(std::min<std::size_t>(in_len, UINT32_MAX));
    const uint32_t out_avail = static_cast<uint32_t>(std::min<std::size_t>(out_len, 1u << 30));
    s.next_in = const_cast<unsigned char *>(in);
    s.avail_in = in_avail;
    s.next_out = out;
    s.avail_out = out_avail;
    const int rc = isal_inflate(&s);
    consumed = in_avail - s.avail_in;
    produced = out_avail - s.avail_out;
    if (rc < 0) return Result::corrupt;
    // At the end of a member the read-ahead is handed back, so the next member starts at
    // in + consumed.
    return s.block_state == ISAL_BLOCK_FINISH ? Result::member_end : Result::progress;
}

const char *MemberInflater::backend() noexcept {
    return "ISA-L";
}

}  // namespace fast
