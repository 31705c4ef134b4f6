// The ISA-L back end of MemberInflater.
#include <isa-l/igzip_lib.h>

#include <new>

#include "codecs/inflate.hpp"

namespace fast {

struct MemberInflater::State {
    inflate_state s;
    // The member's header is read apart, into a header kept between calls: isal_inflate() reading
    // it itself loses what it read of a header that arrives in pieces, and reads on from memory
    // it never wrote.
    isal_gzip_header header;
    bool header_read = false;
};

MemberInflater::MemberInflater() : state_(new (std::nothrow) State) {
    reset();
}
MemberInflater::~MemberInflater() = default;

void MemberInflater::reset() noexcept {
    if (!state_) return;
    isal_inflate_init(&state_->s);
    isal_gzip_header_init(&state_->header);
    state_->header_read = false;
    // After the header: deflate data, then the trailer's CRC and size, both checked.
    state_->s.crc_flag = ISAL_GZIP_NO_HDR_VER;
}

bool MemberInflater::startInside(unsigned bits, unsigned char byte, const unsigned char *window,
                                 std::size_t window_len) noexcept {
    if (bits > 7 || window_len > (std::size_t{1} << 15)) return false;
    inflate_state &s = state_->s;
    isal_inflate_init(&s);
    // Raw deflate data, its first bits already in the bit buffer.
    s.crc_flag = ISAL_DEFLATE;
    state_->header_read = true;
    s.read_in = bits > 0 ? static_cast<uint64_t>(byte >> (8 - bits)) : 0;
    s.read_in_length = static_cast<int32_t>(bits);
    return window_len == 0 ||
           isal_inflate_set_dict(&s, const_cast<uint8_t *>(window),
                                 static_cast<uint32_t>(window_len)) == ISAL_DECOMP_OK;
}

std::size_t MemberInflater::heldBytes() const noexcept {
    return static_cast<std::size_t>(state_->s.read_in_length / 8);
}

MemberInflater::Result MemberInflater::step(const unsigned char *in, std::size_t in_len,
                                            std::size_t &consumed, unsigned char *out,
                                            std::size_t out_len, std::size_t &produced) noexcept {
    inflate_state &s = state_->s;
    std::size_t head = 0;
    if (!state_->header_read) {
        // The name, comment and extra field are passed over (no buffers are given for them).
        std::size_t none = 0;
        isal_gzip_header &header = state_->header;
        const int rc = inflateCall(s, in, in_len, head, out, 0, none, [&header](inflate_state &st) {
            return isal_read_gzip_header(&st, &header);
        });
        if (rc == ISAL_END_INPUT) {
            consumed = head;
            produced = 0;
            return Result::progress;
        }
        if (rc != ISAL_DECOMP_OK) return Result::corrupt;
        state_->header_read = true;
    }
    const int rc = inflateCall(s, in + head, in_len - head, consumed, out, out_len, produced,
                               [](inflate_state &st) { return isal_inflate(&st); });
    consumed += head;
    if (rc < 0) return Result::corrupt;
    // At the end of a member the read-ahead is handed back, so the next member starts at
    // in + consumed.
    return s.block_state == ISAL_BLOCK_FINISH ? Result::member_end : Result::progress;
}

bool MemberInflater::whole(const unsigned char *in, std::size_t in_len, unsigned char *out,
                           std::size_t out_len, std::size_t &produced) noexcept {
    // The call without state keeps no window between calls, and copies none.
    if (!state_ || in_len > UINT32_MAX || out_len > UINT32_MAX) return false;
    inflate_state &s = state_->s;
    isal_inflate_init(&s);
    s.crc_flag = ISAL_GZIP;
    s.next_in = const_cast<uint8_t *>(in);
    s.avail_in = static_cast<uint32_t>(in_len);
    s.next_out = out;
    s.avail_out = static_cast<uint32_t>(out_len);
    const int rc = isal_inflate_stateless(&s);
    produced = out_len - s.avail_out;
    return rc == ISAL_DECOMP_OK && s.avail_in == 0;
}

const char *MemberInflater::backend() noexcept {
    return "ISA-L";
}

}  // namespace fast
