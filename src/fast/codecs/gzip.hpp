// What the input layer needs to know of gzip beyond inflating it: the BC field with which BGZF
// members state their own size, so that their blocks can be inflated apart.
#ifndef FAST_GZIP_HPP
#define FAST_GZIP_HPP

#include <cstddef>
#include <cstdint>

#include "codecs/decompress.hpp"

namespace fast {

// The most a BGZF block may be, and hold as text (its size field has 16 bits), and the text of
// one block as the common writers cut it.
constexpr std::size_t kBgzfMaxBlock = std::size_t{1} << 16;
// A BGZF block's header when its extra field holds the BC subfield alone, as it usually does.
constexpr std::size_t kBgzfHeader = 18;
constexpr std::size_t kBgzfWriteText = 65280;

// The little-endian 32-bit number at p, as gzip trailers and BGZF fields hold them.
inline uint32_t le32(const unsigned char *p) noexcept {
    return p[0] | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The bytes a BGZF block's header takes, as far as its first n bytes at p tell: 18 (the BC
// subfield alone) until they show the length of its extra field.
inline std::size_t bgzfHeaderSize(const unsigned char *p, std::size_t n) noexcept {
    if (n < 12 || p[0] != 0x1f || (p[3] & 4) == 0) return kBgzfHeader;
    const std::size_t extra = p[10] | std::size_t{p[11]} << 8;
    return 12 + extra > kBgzfHeader ? 12 + extra : kBgzfHeader;
}

// Reads a member's header a byte at a time, as far as its extra field, for a BC subfield.
class BlockHeader {
  public:
    void feed(unsigned char byte) noexcept;
    bool done() const noexcept { return at_ == kDone; }
    // The member's whole size as its BC subfield states it, or 0 when it has none.
    std::size_t block_size = 0;

  private:
    static constexpr std::size_t kDone = SIZE_MAX;
    std::size_t at_ = 0;  // bytes of the header seen
    std::size_t extra_ = 0;
    unsigned char field_[4] = {};
    std::size_t field_at_ = 0, field_len_ = 0, bsize_ = 0;
};

// The size of the BGZF block whose first n bytes are at p (a gzip member whose extra field
// holds a BC subfield), or 0 when they are not the start of one or do not show its header.
std::size_t bgzfBlockSize(const unsigned char *p, std::size_t n) noexcept;

}  // namespace fast

#endif
