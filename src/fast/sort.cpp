#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

#include "fast.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define FAST_SORT_AVX2 1
#include <immintrin.h>
#else
#define FAST_SORT_AVX2 0
#endif

namespace {

// A range of 7 elements or fewer (upper - lower <= 6) is finished by straight insertion.
constexpr int32_t kInsertionSpan = 6;

// The smaller part is always taken next, so with d ranges pending the range in hand has at
// most count / 2^d elements, and it is partitioned only when it has 8 or more: for any int32
// count at most 28 ranges are ever pending. A partition with the stack full would need a range
// of 8 * 2^kPendingRanges elements, so the stack cannot overflow and is not checked.
constexpr int kPendingRanges = 32;
static_assert((int64_t{8} << kPendingRanges) > INT32_MAX, "pending-range stack too small");

// Exchanges the strings of two slots without a buffer and without a length limit. Each slot
// ends with the other's string and its terminator, bytes after that are left as they were:
// the same result as copying through a buffer. A slot exchanged with itself keeps its string.
void exchange_strings(char *x, char *y) {
    for (std::size_t k = 0;; ++k) {
        const char a = x[k];
        const char b = y[k];
        x[k] = b;
        y[k] = a;
        if (a == '\0') {
            if (b != '\0') std::memmove(x + k + 1, y + k + 1, std::strlen(y + k + 1) + 1);
            return;
        }
        if (b == '\0') {
            std::memmove(y + k + 1, x + k + 1, std::strlen(x + k + 1) + 1);
            return;
        }
    }
}

// Key policies. `greater(x, y)` asks whether key[x] comes after key[y] in the order;
// `after_pivot(x)` and `before_pivot(x)` compare key[x] with the taken value v.
template <class T, bool kDescending>
class NumberKeys {
  public:
    explicit NumberKeys(T *a) : a_(a) {}
    bool greater(int32_t x, int32_t y) const { return first(a_[y], a_[x]); }
    bool after_pivot(int32_t x) const { return first(v_, a_[x]); }
    bool before_pivot(int32_t x) const { return first(a_[x], v_); }
    void take(int32_t i) { v_ = a_[i]; }
    void store(int32_t i) { a_[i] = v_; }
    void copy(int32_t to, int32_t from) { a_[to] = a_[from]; }
    void exchange(int32_t x, int32_t y) { std::swap(a_[x], a_[y]); }

  private:
    static bool first(T p, T q) { return kDescending ? q < p : p < q; }
    T *a_;
    T v_{};
};

template <class T>
using Ascending = NumberKeys<T, false>;
using Descending = NumberKeys<int32_t, true>;

// Strings stay in their slots; moves copy bytes. A taken string of up to 63 characters is
// copied into a 64-byte buffer. A longer one stays in its slot (`held_`) and every move onto
// that slot becomes an exchange with it, so the taken string moves down as the others move up:
// no allocation and no length limit. Each slot still ends with the same string; only bytes
// after a zero can differ from what copies through a buffer would leave, and in a partition
// not even those, since exchanging two slots leaves what copying both ways does.
class StringKeys {
  public:
    explicit StringKeys(char **s) : s_(s) {}
    StringKeys(const StringKeys &) = delete;
    StringKeys &operator=(const StringKeys &) = delete;

    bool greater(int32_t x, int32_t y) const { return std::strcmp(s_[x], s_[y]) > 0; }
    bool after_pivot(int32_t x) const { return std::strcmp(s_[x], v_) > 0; }
    bool before_pivot(int32_t x) const { return std::strcmp(s_[x], v_) < 0; }

    void take(int32_t i) {
        const std::size_t size = std::strlen(s_[i]) + 1;
        held_ = size <= sizeof buffer_ ? -1 : i;
        v_ = held_ < 0 ? static_cast<char *>(std::memcpy(buffer_, s_[i], size)) : s_[i];
    }
    void store(int32_t i) {
        if (held_ < 0) std::memcpy(s_[i], v_, std::strlen(v_) + 1);
    }
    void copy(int32_t to, int32_t from) {
        if (held_ < 0) {
            std::memmove(s_[to], s_[from], std::strlen(s_[from]) + 1);
        } else {  // held_ == to: the taken string moves to `from`
            exchange(from, to);
            held_ = from;
            v_ = s_[from];
        }
    }
    void exchange(int32_t x, int32_t y) { exchange_strings(s_[x], s_[y]); }

  private:
    char **s_;
    const char *v_ = nullptr;
    int32_t held_ = -1;
    char buffer_[64];
};

// The companion arrays, given every move of the key array at the same indexes.
template <std::size_t N>
class Companions {
  public:
    explicit Companions(std::array<int32_t *, N> a) : a_(a) {}
    void take(int32_t i) {
        for (std::size_t k = 0; k < N; ++k) v_[k] = a_[k][i];
    }
    void store(int32_t i) {
        for (std::size_t k = 0; k < N; ++k) a_[k][i] = v_[k];
    }
    void copy(int32_t to, int32_t from) {
        for (std::size_t k = 0; k < N; ++k) a_[k][to] = a_[k][from];
    }
    void exchange(int32_t x, int32_t y) {
        for (std::size_t k = 0; k < N; ++k) std::swap(a_[k][x], a_[k][y]);
    }

  private:
    std::array<int32_t *, N> a_;
    std::array<int32_t, N> v_{};
};

// Keys and companions; a local of the sort, so the taken values can stay in registers.
template <class Keys, std::size_t N>
class Records {
  public:
    template <class Key>
    Records(Key *key, std::array<int32_t *, N> companions) : keys_(key), comp_(companions) {}
    const Keys &keys() const { return keys_; }
    void take(int32_t i) { keys_.take(i), comp_.take(i); }
    void store(int32_t i) { keys_.store(i), comp_.store(i); }
    void copy(int32_t to, int32_t from) { keys_.copy(to, from), comp_.copy(to, from); }
    void exchange(int32_t x, int32_t y) { keys_.exchange(x, y), comp_.exchange(x, y); }

  private:
    Keys keys_;
    Companions<N> comp_;
};

// Below a range that does not start at 0 lies an element that none of the range's keys goes
// before (the pivot of an earlier partition, or an element equal to it), which stops the scan
// where the lower bound would; only the range starting at 0 needs the bound test.
template <bool kBounded, class R>
void insertion(R &r, int32_t lower, int32_t upper) {
    const auto &k = r.keys();
    for (int32_t p = lower + 1; p <= upper; ++p) {
        // When key[p - 1] <= key[p] nothing moves and v would be stored where it was taken.
        if (!k.greater(p - 1, p)) continue;
        r.take(p);
        int32_t q = p - 1;
        do {
            r.copy(q + 1, q);
            --q;
        } while ((!kBounded || q >= lower) && k.after_pivot(q));
        r.store(q + 1);
    }
}

// Partitions lower..upper (8 elements or more) around the median of three; returns the
// pivot's final index j and sets i to the start of the upper part.
template <class R>
int32_t partition(R &r, int32_t lower, int32_t upper, int32_t &i) {
    const auto &k = r.keys();
    const auto mid = static_cast<int32_t>((int64_t{lower} + upper) / 2);
    r.exchange(mid, lower + 1);
    if (k.greater(lower, upper)) r.exchange(lower, upper);
    if (k.greater(lower + 1, upper)) r.exchange(lower + 1, upper);
    if (k.greater(lower, lower + 1)) r.exchange(lower, lower + 1);
    // key[upper] stops the upward scan, key[lower + 1] and key[lower] the downward one.
    r.take(lower + 1);
    i = lower + 1;
    int32_t j = upper;
    for (;;) {
        do ++i;
        while (k.before_pivot(i));
        do --j;
        while (k.after_pivot(j));
        if (j < i) break;
        r.exchange(i, j);
    }
    r.copy(lower + 1, j);
    r.store(j);
    return j;
}

template <class Keys, class Key, class... C>
void quicksort(int32_t n, Key *key, C *...companions) {
    if (n <= 1) return;
    Records<Keys, sizeof...(C)> r(key, {companions...});
    int32_t pending[2 * kPendingRanges];
    int top = 0;
    int32_t lower = 0;
    int32_t upper = n - 1;
    for (;;) {
        if (upper - lower <= kInsertionSpan) {
            if (lower == 0)
                insertion<true>(r, lower, upper);
            else
                insertion<false>(r, lower, upper);
            if (top == 0) return;
            upper = pending[--top];
            lower = pending[--top];
            continue;
        }
        int32_t i;
        const int32_t j = partition(r, lower, upper, i);
        // The larger part waits, the upper one on a tie.
        if (upper - i + 1 >= j - lower) {
            pending[top++] = i;
            pending[top++] = upper;
            upper = j - 1;
        } else {
            pending[top++] = lower;
            pending[top++] = j - 1;
            lower = i;
        }
    }
}

// Plain integer keys: nothing moves with them, so every method that sorts gives the same
// array, bit for bit, and these keys take the fastest one. A range is split in place by one
// byte of its keys (American flag sort: count, then exchange each key straight into its
// byte's bucket), each bucket by the next lower byte, and a bucket of a few hundred keys or
// fewer is finished by a sorting network in 256-bit registers where the processor has them,
// by insertion where it has not.

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

// Orders x and y without a branch.
template <class T>
void order(T &x, T &y) {
    const T low = y < x ? y : x;
    y = y < x ? x : y;
    x = low;
}

// Sorts up to four keys by a fixed series of exchanges, with no branch to mispredict.
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

// Finishes ranges of up to kMost keys without vector registers.
template <class T>
struct ScalarFinish {
    static constexpr uint32_t kMost = 64;
    static void sort(T *a, uint32_t n) { insertion_sort(a, n); }
};

#if FAST_SORT_AVX2

#define FAST_AVX2 __attribute__((target("avx2")))

// A bitonic sorting network over up to 256 keys. The keys are padded with the largest key to
// a power of two of registers; each register is sorted on its own, then runs twice as long
// are merged from pairs of sorted runs, each merge an exchange of every key of the first run
// with its mirror image in the second and then exchanges at half the distance, a quarter,
// ... 1. Every exchange leaves the lower key at the lower index, so the padding stays at the
// end, and the range is read and written only below n.

// An exchange between the lanes of one register: lane l meets lane l ^ flip and keeps the
// higher key of the two when l & high, the lower otherwise.
struct LaneExchange {
    unsigned flip, high;
};

// Exchanges as operands of 32-bit lanes (a 64-bit lane is two of them): per exchange, the
// lanes to fetch the partner from, then the mask of the lanes that keep the higher key.
template <unsigned kLanes, std::size_t N>
constexpr std::array<std::array<int32_t, 8>, 2 * N> lane_operands(const LaneExchange (&x)[N]) {
    constexpr unsigned kWidth = 8 / kLanes;
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

// Sorting one register: the merges into runs of 2, 4 (and 8) lanes. Cleaning: the exchanges
// below the width of a register that end each longer merge. Reversing the lanes.
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

template <class T>
struct Lanes;

template <>
struct Lanes<int32_t> {
    static constexpr unsigned kCount = 8;
    alignas(32) static constexpr auto kSort = lane_operands<8>(kSort8);
    alignas(32) static constexpr auto kClean = lane_operands<8>(kClean8);
    alignas(32) static constexpr auto kReverse = lane_operands<8>(kReverse8);
    FAST_AVX2 static __m256i greater(__m256i x, __m256i y) { return _mm256_cmpgt_epi32(x, y); }
    FAST_AVX2 static __m256i lower(__m256i x, __m256i y) { return _mm256_min_epi32(x, y); }
    FAST_AVX2 static __m256i higher(__m256i x, __m256i y) { return _mm256_max_epi32(x, y); }
    FAST_AVX2 static __m256i largest() { return _mm256_set1_epi32(INT32_MAX); }
    FAST_AVX2 static __m256i load_first(const int32_t *p, __m256i mask) {
        return _mm256_maskload_epi32(reinterpret_cast<const int *>(p), mask);
    }
    FAST_AVX2 static void store_first(int32_t *p, __m256i mask, __m256i x) {
        _mm256_maskstore_epi32(reinterpret_cast<int *>(p), mask, x);
    }
};

template <>
struct Lanes<int64_t> {
    static constexpr unsigned kCount = 4;
    alignas(32) static constexpr auto kSort = lane_operands<4>(kSort4);
    alignas(32) static constexpr auto kClean = lane_operands<4>(kClean4);
    alignas(32) static constexpr auto kReverse = lane_operands<4>(kReverse4);
    FAST_AVX2 static __m256i greater(__m256i x, __m256i y) { return _mm256_cmpgt_epi64(x, y); }
    FAST_AVX2 static __m256i lower(__m256i x, __m256i y) {
        return _mm256_blendv_epi8(x, y, greater(x, y));
    }
    FAST_AVX2 static __m256i higher(__m256i x, __m256i y) {
        return _mm256_blendv_epi8(y, x, greater(x, y));
    }
    FAST_AVX2 static __m256i largest() { return _mm256_set1_epi64x(INT64_MAX); }
    FAST_AVX2 static __m256i load_first(const int64_t *p, __m256i mask) {
        return _mm256_maskload_epi64(reinterpret_cast<const long long *>(p), mask);
    }
    FAST_AVX2 static void store_first(int64_t *p, __m256i mask, __m256i x) {
        _mm256_maskstore_epi64(reinterpret_cast<long long *>(p), mask, x);
    }
};

// Applies the exchanges of an operand table, in order, to the lanes of x.
template <class T, std::size_t N>
FAST_AVX2 inline __m256i exchange_lanes(__m256i x, const std::array<std::array<int32_t, 8>, N> &t) {
    for (std::size_t k = 0; k < N; k += 2) {
        const __m256i y = _mm256_permutevar8x32_epi32(x, load(t[k].data()));
        // A lane takes its partner's key when that key is the one the lane keeps.
        const __m256i take = _mm256_xor_si256(Lanes<T>::greater(x, y), load(t[k + 1].data()));
        x = _mm256_blendv_epi8(x, y, take);
    }
    return x;
}

// Register u of the range a[0 .. n - 1] and what lies past it: the keys, the largest key in
// the lanes past n, whose places are neither read nor written.
template <class T>
class Registers {
  public:
    FAST_AVX2 Registers(T *a, uint32_t n) : a_(a), full_(n / kCount), rest_(n % kCount) {
        const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
        constexpr int kShift = kCount == 8 ? 0 : 1;  // 32-bit lanes per key: 1 or 2
        tail_ = _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int32_t>(rest_)),
                                   _mm256_srli_epi32(lane, kShift));
    }
    FAST_AVX2 __m256i get(uint32_t u) const {
        if (u < full_) return load(a_ + u * kCount);
        if (u > full_ || rest_ == 0) return Lanes<T>::largest();
        return _mm256_blendv_epi8(Lanes<T>::largest(), Lanes<T>::load_first(a_ + u * kCount, tail_),
                                  tail_);
    }
    FAST_AVX2 void put(uint32_t u, __m256i x) const {
        if (u < full_)
            store(a_ + u * kCount, x);
        else if (u == full_ && rest_ != 0)
            Lanes<T>::store_first(a_ + u * kCount, tail_, x);
    }

  private:
    static constexpr unsigned kCount = Lanes<T>::kCount;
    T *a_;
    uint32_t full_, rest_;
    __m256i tail_;
};

// The network works on a copy in an aligned buffer of 2 KiB: in place, loads and stores that
// cross cache lines would slow every step.
constexpr std::size_t kNetworkBytes = 2048;

template <class T>
FAST_AVX2 void network_sort(T *a, uint32_t n) {
    using L = Lanes<T>;
    constexpr unsigned kCount = L::kCount;
    const Registers<T> range(a, n);
    // Registers past the last one that holds a key would hold only the largest key: an
    // exchange with one of them changes nothing and is left out.
    const uint32_t used = (n + kCount - 1) / kCount;
    if (used == 1) return range.put(0, exchange_lanes<T>(range.get(0), L::kSort));
    uint32_t count = 2;  // registers of the network, a power of two
    while (count < used) count *= 2;
    alignas(32) T keys[kNetworkBytes / sizeof(T)];
    for (uint32_t u = 0; u < used; ++u)
        store(keys + u * kCount, exchange_lanes<T>(range.get(u), L::kSort));
    const __m256i reverse = load(L::kReverse[0].data());
    for (uint32_t run = 2; run <= count; run *= 2) {  // registers per merged run
        for (uint32_t b = 0; b < used; b += run) {
            for (uint32_t k = b + run > used ? b + run - used : 0; k < run / 2; ++k) {
                T *x = keys + (b + k) * kCount, *y = keys + (b + run - 1 - k) * kCount;
                const __m256i p = load(x), q = _mm256_permutevar8x32_epi32(load(y), reverse);
                store(x, L::lower(p, q));
                store(y, _mm256_permutevar8x32_epi32(L::higher(p, q), reverse));
            }
        }
        for (uint32_t d = run / 4; d >= 1; d /= 2) {
            for (uint32_t b = 0; b + d < used; b += 2 * d) {
                for (uint32_t k = b; k < b + d && k + d < used; ++k) {
                    T *x = keys + k * kCount, *y = keys + (k + d) * kCount;
                    const __m256i p = load(x), q = load(y);
                    store(x, L::lower(p, q));
                    store(y, L::higher(p, q));
                }
            }
        }
        for (uint32_t u = 0; u < used; ++u) {
            const __m256i x = exchange_lanes<T>(load(keys + u * kCount), L::kClean);
            if (run < count)
                store(keys + u * kCount, x);
            else
                range.put(u, x);
        }
    }
}

// Finishes ranges of up to kMost keys with the network, up to four by exchanges in scalar
// registers.
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

#endif  // FAST_SORT_AVX2

// A key's bucket at one level of the radix sort: its distance from the range's least key,
// shifted right by as many bits as the bucket count leaves. The distance of two keys is their
// difference as unsigned numbers, which the sign does not upset.
template <class T>
class Digit {
  public:
    using U = std::make_unsigned_t<T>;
    // The digit of a range of n keys from least to most (least < most) that is sorted within
    // `levels` levels, this one included: as many bits as make buckets of about `keys` keys,
    // from 3 to 8, and at least so many that each level after this one has 8 bits or fewer to
    // sort by. The distances of a range sorted within L levels have at most 8 L bits.
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
    // The number of buckets: the greatest key's is the last.
    unsigned count() const { return count_; }
    // Whether a bucket holds just one key value.
    bool exact() const { return shift_ == 0; }

  private:
    U distance(T x) const { return static_cast<U>(static_cast<U>(x) - least_); }
    U least_;
    int shift_;
    unsigned count_;
};

// The range a[start .. n - 1] begins with a bucket and is ordered by bucket: the index past
// that bucket, found by doubling steps and then halving.
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

// Working storage of the radix sort, shared by its levels.
struct Buckets {
    uint32_t head[256];   // next free place of each bucket
    uint32_t end[256];    // key counts, then the ends of the buckets
    uint8_t unfull[256];  // the buckets that still have free places
};

// Sorts the n keys at a, within `levels` levels of recursion, into up to 256 buckets of equal
// spans of values, then each bucket the same way; a bucket of up to Finish::kMost keys is
// finished at once. The recursion is at most sizeof(T) deep.
template <class T, class Finish>
void radix_sort(T *a, uint32_t n, int levels, Buckets &b) {
    T least = a[0], most = a[0];
    for (uint32_t k = 1; k < n; ++k) least = std::min(least, a[k]), most = std::max(most, a[k]);
    if (least == most) return;
    const Digit<T> digit(least, most, n, levels, Finish::kMost / 4);
    const unsigned buckets = digit.count();
    // Keys are counted alternately in two arrays, so that runs of one digit do not make each
    // count wait for the one before.
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
    // next free place of its own bucket, which fills that place for good; the key received is
    // looked at again in the next sweep. The four keys of a step are independent, so their
    // loads overlap. Once all buckets but one are full, that one is too.
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
            // The free places of the bucket stay at or below p, and those of other buckets lie
            // outside this one, so keys p .. p + 3 can be read before any exchange.
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
    // Ordered and reversed arrays are found by one pass, stopped by the first step the other
    // way.
    uint32_t k = 1;
    while (k < n && !(a[k] < a[k - 1])) ++k;
    if (k == n) return;
    for (k = 1; k < n && !(a[k - 1] < a[k]);) ++k;
    if (k == n) return std::reverse(a, a + n);
    Buckets b;
    radix_sort<T, Finish>(a, n, 2 * sizeof(T), b);
}

template <class T>
void sort_plain(int32_t count, T *a) {
    if (count <= 1) return;
#if FAST_SORT_AVX2
    if (has_avx2()) return sort_keys<T, VectorFinish<T>>(a, static_cast<uint32_t>(count));
#endif
    sort_keys<T, ScalarFinish<T>>(a, static_cast<uint32_t>(count));
}

}  // namespace

extern "C" {

void ArraySort_Int(int32_t n, int32_t *key) {
    sort_plain(n, key);
}
void ArraySort_Long(int32_t n, int64_t *key) {
    sort_plain(n, key);
}
void ArraySort_Int2(int32_t n, int32_t *key, int32_t *b) {
    quicksort<Ascending<int32_t>>(n, key, b);
}
void ArraySort2_Int2(int32_t n, int32_t *key, int32_t *b) {
    quicksort<Descending>(n, key, b);
}
void ArraySort_Mix(int32_t n, int64_t *key, int32_t *b) {
    quicksort<Ascending<int64_t>>(n, key, b);
}
void ArraySort_Mix3(int32_t n, int64_t *key, int32_t *b, int32_t *c) {
    quicksort<Ascending<int64_t>>(n, key, b, c);
}
void ArraySort_String(int32_t n, char **strings, int32_t *b) {
    quicksort<StringKeys>(n, strings, b);
}
void s_swap(char **strings, int32_t i, int32_t j) {
    exchange_strings(strings[i], strings[j]);
}

}  // extern "C"
