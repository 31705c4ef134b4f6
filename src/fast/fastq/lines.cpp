// The line-feed kernels and the choice between them.
#include "fastq/lines.hpp"

#include <atomic>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define FAST_X86 1
#endif

namespace fast {

namespace {

// Eight bytes at a time: a byte that equals the line feed becomes zero, the zero bytes' high
// bits are found without carries between bytes, and the eight bits are gathered into one byte.
void portableMasks(const char *p, std::size_t blocks, std::uint64_t *out) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fULL;
    for (std::size_t k = 0; k < blocks; ++k, p += 64) {
        std::uint64_t mask = 0;
        for (int i = 0; i < 8; ++i) {
            std::uint64_t word;
            std::memcpy(&word, p + 8 * i, 8);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
            word = __builtin_bswap64(word);  // the first byte lowest
#endif
            const std::uint64_t x = word ^ (kOnes * '\n');
            const std::uint64_t zero = ~(((x & kLow7) + kLow7) | x | kLow7);
            // Little-endian bytes: bit 8 j + 7 of `zero` for byte j, gathered into bits 56-63.
            const std::uint64_t bits = ((zero >> 7) * 0x0102040810204080ULL) >> 56;
            mask |= bits << (8 * i);
        }
        out[k] = mask;
    }
}

#ifdef FAST_X86
__attribute__((target("avx2"))) void avx2Masks(const char *p, std::size_t blocks,
                                               std::uint64_t *out) {
    const __m256i lf = _mm256_set1_epi8('\n');
    for (std::size_t k = 0; k < blocks; ++k, p += 64) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 32));
        const auto lo = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, lf)));
        const auto hi = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(b, lf)));
        out[k] = lo | static_cast<std::uint64_t>(hi) << 32;
    }
}

__attribute__((target("avx512f,avx512bw"))) void avx512Masks(const char *p, std::size_t blocks,
                                                             std::uint64_t *out) {
    const __m512i lf = _mm512_set1_epi8('\n');
    for (std::size_t k = 0; k < blocks; ++k, p += 64)
        out[k] = _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(p), lf);
}
#endif

bool runs(ScanPath path) noexcept {
#ifdef FAST_X86
    if (path == ScanPath::avx512) return __builtin_cpu_supports("avx512bw");
    if (path == ScanPath::avx2) return __builtin_cpu_supports("avx2");
#endif
    return path == ScanPath::portable;
}

// The path the environment asks for (FAST_SIMD=portable or avx2 caps the choice), else the best.
ScanPath chosen() noexcept {
    ScanPath path = bestScanPath();
    const char *want = std::getenv("FAST_SIMD");
    if (want && std::strcmp(want, "portable") == 0) path = ScanPath::portable;
    if (want && std::strcmp(want, "avx2") == 0 && runs(ScanPath::avx2)) path = ScanPath::avx2;
    return path;
}

std::atomic<int> &current() noexcept {
    static std::atomic<int> path{static_cast<int>(chosen())};
    return path;
}

}  // namespace

ScanPath bestScanPath() noexcept {
    if (runs(ScanPath::avx512)) return ScanPath::avx512;
    if (runs(ScanPath::avx2)) return ScanPath::avx2;
    return ScanPath::portable;
}

ScanPath scanPath() noexcept {
    return static_cast<ScanPath>(current().load(std::memory_order_relaxed));
}

void useScanPath(ScanPath path) noexcept {
    if (runs(path)) current().store(static_cast<int>(path), std::memory_order_relaxed);
}

const char *scanPathName(ScanPath path) noexcept {
    switch (path) {
        case ScanPath::avx512:
            return "avx512bw";
        case ScanPath::avx2:
            return "avx2";
        case ScanPath::portable:
            break;
    }
    return "portable";
}

LineMaskKernel lineMaskKernel() noexcept {
#ifdef FAST_X86
    switch (scanPath()) {
        case ScanPath::avx512:
            return avx512Masks;
        case ScanPath::avx2:
            return avx2Masks;
        case ScanPath::portable:
            break;
    }
#endif
    return portableMasks;
}

bool LineFinder::load(std::size_t block) noexcept {
    const std::size_t whole = size_ >> 6;
    const std::size_t blocks = block * 64 < size_ ? (size_ - block * 64 + 63) >> 6 : 0;
    if (blocks == 0) return false;
    first_ = block;
    count_ = blocks < kWords ? blocks : kWords;
    // Whole blocks go through the kernel; the last, partial one byte by byte.
    const std::size_t full = block + count_ <= whole ? count_ : whole - block;
    kernel_(base_ + block * 64, full, words_);
    if (full < count_) {
        const char *p = base_ + (block + full) * 64;
        const std::size_t n = size_ - (block + full) * 64;
        std::uint64_t mask = 0;
        for (std::size_t i = 0; i < n; ++i) mask |= static_cast<std::uint64_t>(p[i] == '\n') << i;
        words_[full] = mask;
    }
    return true;
}

}  // namespace fast
