#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "arrays/radix_sort.hpp"
#include "fast.h"

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

}  // namespace

extern "C" {

void ArraySort_Int(int32_t n, int32_t *key) {
    fast::radixSort(n, key);
}
void ArraySort_Long(int32_t n, int64_t *key) {
    fast::radixSort(n, key);
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
