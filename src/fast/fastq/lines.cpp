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
    return nullptr;
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
