// Finding line feeds 64 bytes at a time. A vector kernel turns each 64-byte block of text into a
// word with one bit a byte, set where the byte is a line feed or a zero byte (which ends a
// reading as the end of the text does); LineFinder keeps the words of a few KiB at a time and
// hands out line ends with a count of trailing zeros. The kernel is chosen once, by what the CPU
// has: AVX-512BW or AVX2; without either, or when the environment variable FAST_SIMD=portable
// forces it, the portable path looks for each line feed with memchr, short of the next zero
// byte, which it finds once for a stretch of text.
//
// A kernel is a pass over bytes that sets bits by a byte's class; a carriage return before a line
// feed is the same pass with one more compare, and its bit shifted onto the feed's.
#ifndef FAST_LINES_HPP
#define FAST_LINES_HPP

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fast {

enum class ScanPath { portable, avx2, avx512 };

// The kernels, most capable last; the path in use, chosen at the first call.
ScanPath scanPath() noexcept;
// The best path this CPU runs.
ScanPath bestScanPath() noexcept;
// Switches the path, for tests that compare the paths' results; one the CPU lacks is not taken.
// Not to be called while another thread reads.
void useScanPath(ScanPath path) noexcept;
const char *scanPathName(ScanPath path) noexcept;

// Writes one word for each of the `blocks` 64-byte blocks at p: bit i set where p[64 k + i] is a
// line feed or a zero byte. nullptr on the portable path.
using LineMaskKernel = void (*)(const char *p, std::size_t blocks, std::uint64_t *out);
LineMaskKernel lineMaskKernel() noexcept;

// Whether [p, p + n) holds the byte a or the byte b: the writer's check of bases and quality
// values, by the path in use (a vector at a time, or eight bytes on the portable path).
bool holdsEither(const void *p, std::size_t n, unsigned char a, unsigned char b) noexcept;

// The first blank in [p, end), or end: eight bytes at a time, as a header's name is short and
// a call to memchr costs more than the search.
template <class Char>
Char *findBlank(Char *p, Char *end) noexcept {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fULL;
    for (; end - p >= 8; p += 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        word = __builtin_bswap64(word);  // the first byte lowest
#endif
        const std::uint64_t x = word ^ (kOnes * ' ');
        const std::uint64_t zero = ~(((x & kLow7) + kLow7) | x | kLow7);
        if (zero) return p + (__builtin_ctzll(zero) >> 3);
    }
    for (; p < end; ++p)
        if (*p == ' ') return p;
    return end;
}

// The line feeds and zero bytes of the text [base, end), found in order; *end is a zero byte.
// Zero bytes written into the text before the place last asked about are not seen.
class LineFinder {
  public:
    LineFinder() noexcept = default;
    LineFinder(const char *base, const char *end) noexcept
        : base_(base),
          size_(static_cast<std::size_t>(end - base)),
          kernel_(lineMaskKernel()),
          zero_(base - 1) {}

    // The first line feed or zero byte at or after p (base <= p <= end), or end.
    const char *next(const char *p) noexcept {
        if (!kernel_) {
            const char *const end = base_ + size_;
            if (zero_ < p) {
                const void *z = std::memchr(p, 0, static_cast<std::size_t>(end - p));
                zero_ = z ? static_cast<const char *>(z) : end;
            }
            const void *lf = std::memchr(p, '\n', static_cast<std::size_t>(zero_ - p));
            return lf ? static_cast<const char *>(lf) : zero_;
        }
        std::size_t at = static_cast<std::size_t>(p - base_);
        std::size_t block = at >> 6;
        if (block - first_ >= count_ && !load(block)) return base_ + size_;
        std::uint64_t word = words_[block - first_] & (~std::uint64_t{0} << (at & 63));
        while (word == 0) {
            ++block;
            if (block - first_ >= count_ && !load(block)) return base_ + size_;
            word = words_[block - first_];
        }
        return base_ + (block << 6) + static_cast<std::size_t>(__builtin_ctzll(word));
    }

  private:
    static constexpr std::size_t kWords = 64;
    // Fills the words of the blocks from `block` on; false past the end.
    bool load(std::size_t block) noexcept;

    const char *base_ = nullptr;
    std::size_t size_ = 0;
    LineMaskKernel kernel_ = nullptr;
    const char *zero_ = nullptr;  // the portable path's next zero byte
    std::size_t first_ = 0, count_ = 0;
    std::uint64_t words_[kWords];
};

}  // namespace fast

#endif
