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

#ifdef FAST_X86
// The bits of the 32 bytes at p that are line feeds or zero bytes.
__attribute__((target("avx2"))) inline std::uint32_t avx2Ends(const char *p) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
    const __m256i ends = _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\n')),
                                         _mm256_cmpeq_epi8(v, _mm256_setzero_si256()));
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(ends));
}

__attribute__((target("avx2"))) void avx2Masks(const char *p, std::size_t blocks,
                                               std::uint64_t *out) {
    for (std::size_t k = 0; k < blocks; ++k, p += 64)
        out[k] = avx2Ends(p) | static_cast<std::uint64_t>(avx2Ends(p + 32)) << 32;
}

__attribute__((target("avx512f,avx512bw"))) void avx512Masks(const char *p, std::size_t blocks,
                                                             std::uint64_t *out) {
    const __m512i lf = _mm512_set1_epi8('\n');
    for (std::size_t k = 0; k < blocks; ++k, p += 64) {
        const __m512i v = _mm512_loadu_si512(p);
        out[k] = _mm512_cmpeq_epi8_mask(v, lf) | _mm512_testn_epi8_mask(v, v);
    }
}

// The bytes of the 32 at p that are a or b, as 0xff.
__attribute__((target("avx2"))) inline __m256i avx2Either(const unsigned char *p, __m256i a,
                                                          __m256i b) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
    return _mm256_or_si256(_mm256_cmpeq_epi8(v, a), _mm256_cmpeq_epi8(v, b));
}

// Whether [p, p + n), n >= 32, holds a or b, 32 bytes at a time, the last 32 overlapping those
// before.
__attribute__((target("avx2"))) bool avx2HoldsEither(const unsigned char *p, std::size_t n,
                                                     unsigned char a, unsigned char b) {
    const __m256i va = _mm256_set1_epi8(static_cast<char>(a)),
                  vb = _mm256_set1_epi8(static_cast<char>(b));
    __m256i any = _mm256_setzero_si256();
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) any = _mm256_or_si256(any, avx2Either(p + i, va, vb));
    if (i < n) any = _mm256_or_si256(any, avx2Either(p + n - 32, va, vb));
    return !_mm256_testz_si256(any, any);
}

// The same 64 bytes at a time, the last ones by a masked load, which reads nothing past the end.
__attribute__((target("avx512f,avx512bw"))) bool avx512HoldsEither(const unsigned char *p,
                                                                   std::size_t n, unsigned char a,
                                                                   unsigned char b) {
    const __m512i va = _mm512_set1_epi8(static_cast<char>(a)),
                  vb = _mm512_set1_epi8(static_cast<char>(b));
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i v = _mm512_loadu_si512(p + i);
        if (_mm512_cmpeq_epi8_mask(v, va) | _mm512_cmpeq_epi8_mask(v, vb)) return true;
    }
    if (i == n) return false;
    const __mmask64 left = ~uint64_t{0} >> (64 - (n - i));
    const __m512i v = _mm512_maskz_loadu_epi8(left, p + i);
    return (_mm512_mask_cmpeq_epi8_mask(left, v, va) | _mm512_mask_cmpeq_epi8_mask(left, v, vb)) !=
           0;
}
#endif

// The portable search, eight bytes at a time.
bool wordsHoldEither(const unsigned char *s, std::size_t n, unsigned char a,
                     unsigned char b) noexcept {
    constexpr uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
    const auto zeroByte = [](uint64_t v) { return (v - kOnes) & ~v & kHighs; };
    const uint64_t wa = a * kOnes, wb = b * kOnes;
    uint64_t found = 0;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t v;
        std::memcpy(&v, s + i, 8);
        found |= zeroByte(v ^ wa) | zeroByte(v ^ wb);
    }
    for (; i < n; ++i) found |= (s[i] == a) | (s[i] == b);
    return found != 0;
}

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
    return nullptr;
}

bool holdsEither(const void *p, std::size_t n, unsigned char a, unsigned char b) noexcept {
    const unsigned char *s = static_cast<const unsigned char *>(p);
#ifdef FAST_X86
    switch (n >= 32 ? scanPath() : ScanPath::portable) {
        case ScanPath::avx512:
            return avx512HoldsEither(s, n, a, b);
        case ScanPath::avx2:
            return avx2HoldsEither(s, n, a, b);
        case ScanPath::portable:
            break;
    }
#endif
    return wordsHoldEither(s, n, a, b);
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
        for (std::size_t i = 0; i < n; ++i)
            mask |= static_cast<std::uint64_t>(p[i] == '\n' || p[i] == 0) << i;
        words_[full] = mask;
    }
    return true;
}

}  // namespace fast
