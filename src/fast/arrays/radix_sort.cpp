// Integer keys without companions, sorted in place by value: a radix sort that splits a range
// into buckets of equal spans of values (American flag sort: count the keys of each bucket,
// then exchange every key into its bucket's next free place), each bucket the same way, and a
// bucket of a few hundred keys at most finished by a sorting network in 256-bit registers
// where the processor has AVX2, by insertion where it has not.
#include "arrays/radix_sort.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

// FAST_SORT_VECTOR=0 builds the sorts without the vector path, as other processors run them.
#ifndef FAST_SORT_VECTOR
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define FAST_SORT_VECTOR 1
#else
#define FAST_SORT_VECTOR 0
#endif
#endif

#if FAST_SORT_VECTOR
#include <immintrin.h>
#endif

namespace {

// Orders x and y without a branch.
template <class T>
void order(T &x, T &y) {
    const T low = y < x ? y : x;
    y = y < x ? x : y;
    x = low;
}

// Up to four keys by a fixed series of exchanges: random input mispredicts no branch.
template <class T>
void sort_four(T *a, uint32_t n) {
    if (n < 2) return;
    T w = a[0], x = a[1];
    if (n == 2) {
        order(w, x);
    } else if (n == 3) {
        T y = a[2];
        order(w, x), order(x, y), order(w, x);
        a[2] = y;
    } else {
        T y = a[2], z = a[3];
        order(w, x), order(y, z), order(w, y), order(x, z), order(x, y);
        a[2] = y, a[3] = z;
    }
    a[0] = w, a[1] = x;
}

template <class T>
void insertion_sort(T *a, uint32_t n) {
    for (uint32_t p = 1; p < n; ++p) {
        const T v = a[p];
        uint32_t q = p;
        if (v < a[0]) {
            for (; q > 0; --q) a[q] = a[q - 1];
        } else {
            for (; v < a[q - 1]; --q) a[q] = a[q - 1];  // a[0] <= v stops the scan
        }
        a[q] = v;
    }
}

// Finishes a range of up to kMost keys without vector registers.
template <class T>
struct ScalarFinish {
    static constexpr uint32_t kMost = 64;
    static void sort(T *a, uint32_t n) {
        if (n <= 4)
            sort_four(a, n);
        else
            insertion_sort(a, n);
    }
};

#if FAST_SORT_VECTOR

#define FAST_AVX2 __attribute__((target("avx2")))

// A bitonic sorting network. The keys fill registers, the last one padded with the largest
// key, up to a power of two of registers. Each register is sorted on its own; then runs of
// 1, 2, 4 ... registers are merged pairwise: every key of the first run is exchanged with its
// mirror image in the second, then with the key at half the run's length, a quarter, ... 1.
// Every exchange leaves the lower key at the lower index, so padding stays at the end, and an
// exchange with a register of padding alone changes nothing and is left out.

// An exchange between the lanes of one register: lane l meets lane l ^ flip and keeps the
// higher key of the two when l & high, the lower otherwise.
struct LaneExchange {
    unsigned flip, high;
};

// Exchanges as operands on 32-bit lanes (a 64-bit key takes two): per exchange, the lanes to
// fetch the partner from, then the mask of the lanes that keep the higher key.
template <unsigned kKeys, std::size_t N>
constexpr std::array<std::array<int32_t, 8>, 2 * N> lane_operands(const LaneExchange (&x)[N]) {
    constexpr unsigned kWidth = 8 / kKeys;
    std::array<std::array<int32_t, 8>, 2 * N> t{};
    for (std::size_t k = 0; k < N; ++k) {
        for (unsigned m = 0; m < 8; ++m) {
            const unsigned lane = m / kWidth;
            t[2 * k][m] = static_cast<int32_t>((lane ^ x[k].flip) * kWidth + m % kWidth);
            t[2 * k + 1][m] = (lane & x[k].high) != 0 ? -1 : 0;
        }
    }
    return t;
}

// For 8 and for 4 keys a register. Sorting one register: the merges of runs of 1, 2 (and 4)
// lanes. Cleaning: the exchanges at distances below a register that end each longer merge.
constexpr LaneExchange kSort8[] = {{1, 1}, {3, 2}, {1, 1}, {7, 4}, {2, 2}, {1, 1}};
constexpr LaneExchange kClean8[] = {{4, 4}, {2, 2}, {1, 1}};
constexpr LaneExchange kReverse8[] = {{7, 0}};
constexpr LaneExchange kSort4[] = {{1, 1}, {3, 2}, {1, 1}};
constexpr LaneExchange kClean4[] = {{2, 2}, {1, 1}};
constexpr LaneExchange kReverse4[] = {{3, 0}};

FAST_AVX2 inline __m256i load(const void *p) {
    return _mm256_loadu_si256(static_cast<const __m256i *>(p));
}
FAST_AVX2 inline void store(void *p, __m256i x) {
    _mm256_storeu_si256(static_cast<__m256i *>(p), x);
}

// The operand tables of a register of 8 keys and of 4.
template <unsigned kKeys>
struct LaneTables;

template <>
struct LaneTables<8> {
    alignas(32) static constexpr auto kSort = lane_operands<8>(kSort8);
    alignas(32) static constexpr auto kClean = lane_operands<8>(kClean8);
    alignas(32) static constexpr auto kReverse = lane_operands<8>(kReverse8);
};

template <>
struct LaneTables<4> {
    alignas(32) static constexpr auto kSort = lane_operands<4>(kSort4);
    alignas(32) static constexpr auto kClean = lane_operands<4>(kClean4);
    alignas(32) static constexpr auto kReverse = lane_operands<4>(kReverse4);
};

// A register of keys of type T: 8 of 32 bits or 4 of 64.
template <class T>
struct Lanes : LaneTables<32 / sizeof(T)> {
    static constexpr unsigned kKeys = 32 / sizeof(T);
    static constexpr bool kNarrow = kKeys == 8;
    FAST_AVX2 static __m256i greater(__m256i x, __m256i y) {
        if constexpr (kNarrow)
            return _mm256_cmpgt_epi32(x, y);
        else
            return _mm256_cmpgt_epi64(x, y);
    }
    FAST_AVX2 static __m256i lower(__m256i x, __m256i y) {
        if constexpr (kNarrow)
            return _mm256_min_epi32(x, y);
        else
            return _mm256_blendv_epi8(x, y, greater(x, y));
    }
    FAST_AVX2 static __m256i higher(__m256i x, __m256i y) {
        if constexpr (kNarrow)
            return _mm256_max_epi32(x, y);
        else
            return _mm256_blendv_epi8(y, x, greater(x, y));
    }
    FAST_AVX2 static __m256i largest() {
        return _mm256_set1_epi64x(kNarrow ? INT64_C(0x7fffffff7fffffff) : INT64_MAX);
    }
};

// Applies the exchanges of an operand table, in order, to the lanes of x.
template <class T, std::size_t N>
FAST_AVX2 inline __m256i exchange_lanes(__m256i x, const std::array<std::array<int32_t, 8>, N> &t) {
    for (std::size_t k = 0; k < N; k += 2) {
        const __m256i y = _mm256_permutevar8x32_epi32(x, load(t[k].data()));
        // A lane takes its partner's key when that is the key the lane keeps.
        const __m256i take = _mm256_xor_si256(Lanes<T>::greater(x, y), load(t[k + 1].data()));
        x = _mm256_blendv_epi8(x, y, take);
    }
    return x;
}

// The keys of a[0 .. n - 1] by registers of kKeys. The last register may hold fewer keys; its
// other lanes read as the largest key, and their places past the range are neither read nor
// written: the masked moves work on 32-bit lanes, both of a 64-bit key's lanes in or out.
template <class T>
class Registers {
  public:
    FAST_AVX2 Registers(T *a, uint32_t n) : a_(a), full_(n / kKeys) {
        const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
        constexpr int kShift = kKeys == 8 ? 0 : 1;  // 32-bit lanes per key: 1 or 2
        tail_ = _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int32_t>(n % kKeys)),
                                   _mm256_srli_epi32(lane, kShift));
    }
    FAST_AVX2 __m256i get(uint32_t u) const {
        if (u < full_) return load(a_ + u * kKeys);
        const __m256i x =
            _mm256_maskload_epi32(reinterpret_cast<const int *>(a_ + u * kKeys), tail_);
        return _mm256_blendv_epi8(Lanes<T>::largest(), x, tail_);
    }
    FAST_AVX2 void put(uint32_t u, __m256i x) const {
        if (u < full_)
            store(a_ + u * kKeys, x);
        else
            _mm256_maskstore_epi32(reinterpret_cast<int *>(a_ + u * kKeys), tail_, x);
    }

  private:
    static constexpr unsigned kKeys = Lanes<T>::kKeys;
    T *a_;
    uint32_t full_;
    __m256i tail_;
};

// The network runs on a copy in an aligned buffer: run in place, the loads and stores that
// cross cache lines, and the masked moves of the last register, slow every step.
constexpr std::size_t kNetworkBytes = 2048;

template <class T>
FAST_AVX2 void network_sort(T *a, uint32_t n) {
    using L = Lanes<T>;
    constexpr unsigned kKeys = L::kKeys;
    const Registers<T> range(a, n);
    const uint32_t used = (n + kKeys - 1) / kKeys;  // registers that hold keys
    if (used == 1) return range.put(0, exchange_lanes<T>(range.get(0), L::kSort));
    uint32_t count = 2;  // registers of the network
    while (count < used) count *= 2;
    alignas(32) T keys[kNetworkBytes / sizeof(T)];
    for (uint32_t u = 0; u < used; ++u)
        store(keys + u * kKeys, exchange_lanes<T>(range.get(u), L::kSort));
    const __m256i reverse = load(L::kReverse[0].data());
    for (uint32_t run = 2; run <= count; run *= 2) {  // registers per merged run
        for (uint32_t b = 0; b < used; b += run) {
            for (uint32_t k = b + run > used ? b + run - used : 0; k < run / 2; ++k) {
                T *x = keys + (b + k) * kKeys, *y = keys + (b + run - 1 - k) * kKeys;
                const __m256i p = load(x), q = _mm256_permutevar8x32_epi32(load(y), reverse);
                store(x, L::lower(p, q));
                store(y, _mm256_permutevar8x32_epi32(L::higher(p, q), reverse));
            }
        }
        for (uint32_t d = run / 4; d >= 1; d /= 2) {
            for (uint32_t b = 0; b + d < used; b += 2 * d) {
                for (uint32_t k = b; k < b + d && k + d < used; ++k) {
                    T *x = keys + k * kKeys, *y = keys + (k + d) * kKeys;
                    const __m256i p = load(x), q = load(y);
                    store(x, L::lower(p, q));
                    store(y, L::higher(p, q));
                }
            }
        }
        for (uint32_t u = 0; u < used; ++u) {
            const __m256i x = exchange_lanes<T>(load(keys + u * kKeys), L::kClean);
            if (run < count)
                store(keys + u * kKeys, x);
            else
                range.put(u, x);
        }
    }
}

// Finishes a range of up to kMost keys (512 of 32 bits, 256 of 64) with the network.
template <class T>
struct VectorFinish {
    static constexpr uint32_t kMost = kNetworkBytes / sizeof(T);
    static void sort(T *a, uint32_t n) {
        if (n <= 4)
            sort_four(a, n);
        else
            network_sort(a, n);
    }
};

bool has_avx2() {
    static const bool yes = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return yes;
}

#endif  // FAST_SORT_VECTOR

// A key's bucket at one level: its distance from the range's least key, shifted right so that
// the greatest key's bucket is below 256. The distance is the difference of the keys as
// unsigned numbers, which the sign does not upset.
template <class T>
class Digit {
  public:
    using U = std::make_unsigned_t<T>;
    // The digit of n keys from least to most (least < most) that are sorted within `levels`
    // levels, this one included: as many bits as make buckets of about `keys` keys, from 3 to
    // 8, but no fewer than leave at most 8 bits of distance for each level after this one.
    // Distances have at most 8 * levels bits, so this never asks for more than 8.
    Digit(T least, T most, uint32_t n, int levels, uint32_t keys) : least_(static_cast<U>(least)) {
        int width = 1;  // bits of the greatest distance
        while (width < static_cast<int>(8 * sizeof(T)) && (distance(most) >> width) != 0) ++width;
        int bits = 3;
        while (bits < 8 && (n >> bits) > keys) ++bits;
        bits = std::max(bits, width - 8 * (levels - 1));
        shift_ = std::max(width - bits, 0);
        count_ = (*this)(most) + 1;
    }
    unsigned operator()(T x) const { return static_cast<unsigned>(distance(x) >> shift_); }
    // Buckets from 0 to the greatest key's.
    unsigned count() const { return count_; }
    // Whether the keys of a bucket are all equal.
    bool exact() const { return shift_ == 0; }

  private:
    U distance(T x) const { return static_cast<U>(static_cast<U>(x) - least_); }
    U least_;
    int shift_;
    unsigned count_;
};

// a[start .. n - 1] is in bucket order and begins with a bucket: the index past that bucket,
// found by doubling steps and then halving.
template <class T>
uint32_t bucket_end(const T *a, uint32_t start, uint32_t n, const Digit<T> &digit) {
    const unsigned d = digit(a[start]);
    uint32_t in = start, out = n, step = 1;  // a[in] is in the bucket, out is past it
    while (step < n - in) {
        if (digit(a[in + step]) != d) {
            out = in + step;
            break;
        }
        in += step;
        step *= 2;
    }
    while (out - in > 1) {
        const uint32_t mid = in + (out - in) / 2;
        (digit(a[mid]) == d ? in : out) = mid;
    }
    return out;
}

// Working storage shared by all levels: a level needs it only until its keys are in their
// buckets, and finds the buckets again afterwards with bucket_end().
struct Buckets {
    uint32_t head[256];   // next free place of each bucket
    uint32_t end[256];    // key counts, then the ends of the buckets
    uint8_t unfull[256];  // the buckets that still have free places
};

// Sorts a[0 .. n - 1] (n > Finish::kMost) in at most `levels` levels of recursion: into the
// buckets of a Digit, then each bucket of more than Finish::kMost keys the same way and each
// smaller one by Finish.
template <class T, class Finish>
void radix_sort(T *a, uint32_t n, int levels, Buckets &b) {
    T least = a[0], most = a[0];
    for (uint32_t k = 1; k < n; ++k) least = std::min(least, a[k]), most = std::max(most, a[k]);
    if (least == most) return;
    const Digit<T> digit(least, most, n, levels, Finish::kMost / 4);
    const unsigned buckets = digit.count();
    // Every other key is counted in the second array, so that a run of keys of one bucket
    // does not make each count wait for the one before.
    std::memset(b.end, 0, buckets * sizeof b.end[0]);
    std::memset(b.head, 0, buckets * sizeof b.head[0]);
    uint32_t k = 0;
    for (; k + 1 < n; k += 2) ++b.end[digit(a[k])], ++b.head[digit(a[k + 1])];
    if (k < n) ++b.end[digit(a[k])];
    uint32_t sum = 0;
    for (unsigned d = 0; d < buckets; ++d) {
        const uint32_t size = b.end[d] + b.head[d];
        b.head[d] = sum;
        sum += size;
        b.end[d] = sum;
    }
    // Sweeps over the unfilled part of each unfull bucket exchange every key there with the
    // next free place of its own bucket, which that fills for good; the key received is looked
    // at in the next sweep. Unlike a cycle of exchanges, the keys of a sweep do not wait for
    // one another, so four are read at once. When all buckets but one are full, so is that.
    unsigned unfull = 0;
    for (unsigned d = 0; d < buckets; ++d) {
        b.unfull[unfull] = static_cast<uint8_t>(d);
        unfull += b.head[d] < b.end[d];
    }
    while (unfull > 1) {
        unsigned left = 0;
        for (unsigned i = 0; i < unfull; ++i) {
            const unsigned d = b.unfull[i];
            uint32_t p = b.head[d];
            const uint32_t end = b.end[d];
            // The next free place of this bucket stays at or below p and those of the others
            // lie outside it, so no exchange of a step writes to p + 1 .. p + 3 before they
            // are read.
            for (; end - p >= 4; p += 4) {
                const T v0 = a[p], v1 = a[p + 1], v2 = a[p + 2], v3 = a[p + 3];
                const uint32_t q0 = b.head[digit(v0)]++;
                a[p] = a[q0];
                a[q0] = v0;
                const uint32_t q1 = b.head[digit(v1)]++;
                a[p + 1] = a[q1];
                a[q1] = v1;
                const uint32_t q2 = b.head[digit(v2)]++;
                a[p + 2] = a[q2];
                a[q2] = v2;
                const uint32_t q3 = b.head[digit(v3)]++;
                a[p + 3] = a[q3];
                a[q3] = v3;
            }
            for (; p < end; ++p) {
                const T v = a[p];
                const uint32_t q = b.head[digit(v)]++;
                a[p] = a[q];
                a[q] = v;
            }
            b.unfull[left] = static_cast<uint8_t>(d);
            left += b.head[d] < end;
        }
        unfull = left;
    }
    if (digit.exact()) return;
    for (uint32_t start = 0; start < n;) {
        const uint32_t end = bucket_end(a, start, n, digit);
        if (end - start > Finish::kMost)
            radix_sort<T, Finish>(a + start, end - start, levels - 1, b);
        else
            Finish::sort(a + start, end - start);
        start = end;
    }
}

template <class T, class Finish>
void sort_keys(T *a, uint32_t n) {
    if (n <= Finish::kMost) return Finish::sort(a, n);
    // An ordered or a reversed array is found in one pass; other input stops the pass at its
    // first step each way.
    uint32_t k = 1;
    while (k < n && !(a[k] < a[k - 1])) ++k;
    if (k == n) return;
    for (k = 1; k < n && !(a[k - 1] < a[k]);) ++k;
    if (k == n) return std::reverse(a, a + n);
    // Twice as many levels as the key has bytes lets small buckets take fewer bits; the
    // levels share one Buckets, so the stack holds it, a network's buffer and 16 small frames
    // at the most.
    Buckets b;
    radix_sort<T, Finish>(a, n, 2 * sizeof(T), b);
}

template <class T>
void sort_plain(int32_t n, T *key) {
    if (n <= 1) return;
#if FAST_SORT_VECTOR
    if (has_avx2()) return sort_keys<T, VectorFinish<T>>(key, static_cast<uint32_t>(n));
#endif
    sort_keys<T, ScalarFinish<T>>(key, static_cast<uint32_t>(n));
}

}  // namespace

namespace fast {

void radixSort(int32_t n, int32_t *key) noexcept {
    sort_plain(n, key);
}
void radixSort(int32_t n, int64_t *key) noexcept {
    sort_plain(n, key);
}

}  // namespace fast
