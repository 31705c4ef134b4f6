// A step-by-step model of the sort family, shared by the tests and the sort fuzzer, and a
// runner that feeds the same input to a library member and to the model.
#ifndef FAST_TESTS_ARRAYS_MODEL_HPP
#define FAST_TESTS_ARRAYS_MODEL_HPP

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "fast.h"

namespace arrays_model {

// A string slot: copying one into another writes the string and its zero and nothing after;
// a copy-constructed slot is a buffer holding just the string.
struct Slot {
    std::vector<char> bytes;
    explicit Slot(std::vector<char> b) : bytes(std::move(b)) {}
    Slot(Slot &&) noexcept = default;
    Slot(const Slot &o) : bytes(o.bytes.begin(), o.bytes.begin() + o.size()) {}
    Slot &operator=(const Slot &o) {
        std::copy(o.bytes.begin(), o.bytes.begin() + o.size(), bytes.begin());
        return *this;
    }
    std::size_t size() const { return std::strlen(bytes.data()) + 1; }
    bool operator>(const Slot &o) const { return std::strcmp(bytes.data(), o.bytes.data()) > 0; }
};

// The quicksort, one step at a time on (key, tag) pairs. `after(x, y)`: x comes after y.
// Returns, for each final index, the input index of the element now there.
template <class K, class After>
std::vector<int32_t> steps(std::vector<K> &key, After after) {
    const int64_t n = static_cast<int64_t>(key.size());
    std::vector<int32_t> tag(key.size());
    std::iota(tag.begin(), tag.end(), 0);
    auto exchange = [&](int64_t x, int64_t y) {
        K t = key.at(x);
        key.at(x) = key.at(y);
        key.at(y) = t;
        std::swap(tag.at(x), tag.at(y));
    };
    std::vector<std::pair<int64_t, int64_t>> pending;
    int64_t lower = 0, upper = n - 1;
    for (;;) {
        if (upper - lower <= 6) {
            for (int64_t p = lower + 1; p <= upper; ++p) {
                K v = key.at(p);
                int32_t vt = tag.at(p);
                int64_t q = p - 1;
                for (; q >= lower && after(key.at(q), v); --q) {
                    key.at(q + 1) = key.at(q);
                    tag.at(q + 1) = tag.at(q);
                }
                key.at(q + 1) = v;
                tag.at(q + 1) = vt;
            }
            if (pending.empty()) return tag;
            std::tie(lower, upper) = pending.back();
            pending.pop_back();
            continue;
        }
        exchange((lower + upper) / 2, lower + 1);
        if (after(key.at(lower), key.at(upper))) exchange(lower, upper);
        if (after(key.at(lower + 1), key.at(upper))) exchange(lower + 1, upper);
        if (after(key.at(lower), key.at(lower + 1))) exchange(lower, lower + 1);
        K v = key.at(lower + 1);
        int32_t vt = tag.at(lower + 1);
        int64_t i = lower + 1, j = upper;
        for (;;) {
            for (++i; after(v, key.at(i));) ++i;
            for (--j; after(key.at(j), v);) --j;
            if (j < i) break;
            exchange(i, j);
        }
        key.at(lower + 1) = key.at(j);
        tag.at(lower + 1) = tag.at(j);
        key.at(j) = v;
        tag.at(j) = vt;
        if (upper - i + 1 >= j - lower) {
            pending.emplace_back(i, upper);
            upper = j - 1;
        } else {
            pending.emplace_back(lower, j - 1);
            lower = i;
        }
    }
}

enum class Member { Int, Long, Int2, Int2Down, Mix, Mix3, String };
inline constexpr Member kMembers[] = {Member::Int, Member::Long, Member::Int2,  Member::Int2Down,
                                      Member::Mix, Member::Mix3, Member::String};
inline constexpr int32_t kSecondOffset = 10;  // second companion: index + 10

// Keys for the numeric members (narrowed to 32 bits for Int, Int2, Int2Down); slot contents
// for String (each slot: a string, its zero, and any bytes after it).
struct Input {
    std::vector<int64_t> keys;
    std::vector<std::vector<char>> slots;
};

// Slot bytes after the zeros are compared too, unless a string is longer than 63 characters:
// the library then moves it by exchanges, which may leave other bytes there.
struct Result {
    std::vector<int64_t> keys;
    std::vector<std::vector<char>> slots;
    std::vector<int32_t> b, c;
    bool tails = true;
    bool operator==(const Result &o) const {
        if (keys != o.keys || b != o.b || c != o.c || slots.size() != o.slots.size()) return false;
        if (tails && o.tails) return slots == o.slots;
        for (std::size_t k = 0; k < slots.size(); ++k)
            if (std::strcmp(slots[k].data(), o.slots[k].data()) != 0) return false;
        return true;
    }
};

inline bool narrow(Member m) {
    return m == Member::Int || m == Member::Int2 || m == Member::Int2Down;
}
inline int companions(Member m) {
    return m == Member::Int || m == Member::Long ? 0 : m == Member::Mix3 ? 2 : 1;
}

inline Result model(Member m, const Input &in) {
    Result r;
    std::vector<int32_t> perm;
    if (m == Member::String) {
        std::vector<Slot> key;
        for (const auto &s : in.slots) {
            key.emplace_back(s);
            r.tails = r.tails && key.back().size() <= 64;
        }
        perm = steps(key, [](const Slot &x, const Slot &y) { return x > y; });
        for (auto &s : key) r.slots.push_back(s.bytes);
    } else {
        std::vector<int64_t> key = in.keys;
        if (narrow(m))
            for (auto &k : key) k = static_cast<int32_t>(k);
        perm = m == Member::Int2Down ? steps(key, [](int64_t x, int64_t y) { return x < y; })
                                     : steps(key, [](int64_t x, int64_t y) { return x > y; });
        r.keys = key;
    }
    if (companions(m) >= 1) r.b = perm;
    if (companions(m) == 2)
        for (int32_t t : perm) r.c.push_back(t + kSecondOffset);
    return r;
}

// Runs the library member. Each slot is a heap block of its own, so a write past one is seen
// by the address sanitizer; the slot pointers must not change.
inline Result product(Member m, const Input &in, bool *pointers_kept = nullptr) {
    const auto n = static_cast<int32_t>(m == Member::String ? in.slots.size() : in.keys.size());
    Result r;
    std::vector<int32_t> b(n), c(n);
    std::iota(b.begin(), b.end(), 0);
    std::iota(c.begin(), c.end(), kSecondOffset);
    std::vector<int32_t> k32(in.keys.begin(), in.keys.end());
    std::vector<int64_t> k64 = in.keys;
    switch (m) {
        case Member::Int:
            ArraySort_Int(n, k32.data());
            break;
        case Member::Long:
            ArraySort_Long(n, k64.data());
            break;
        case Member::Int2:
            ArraySort_Int2(n, k32.data(), b.data());
            break;
        case Member::Int2Down:
            ArraySort2_Int2(n, k32.data(), b.data());
            break;
        case Member::Mix:
            ArraySort_Mix(n, k64.data(), b.data());
            break;
        case Member::Mix3:
            ArraySort_Mix3(n, k64.data(), b.data(), c.data());
            break;
        case Member::String: {
            r.slots = in.slots;
            std::vector<char *> ptr;
            for (auto &s : r.slots) ptr.push_back(s.data());
            const std::vector<char *> before = ptr;
            ArraySort_String(n, ptr.data(), b.data());
            if (pointers_kept) *pointers_kept = ptr == before;
            break;
        }
    }
    if (m != Member::String)
        r.keys = narrow(m) ? std::vector<int64_t>(k32.begin(), k32.end()) : k64;
    if (companions(m) >= 1) r.b = b;
    if (companions(m) == 2) r.c = c;
    return r;
}

}  // namespace arrays_model

#endif  // FAST_TESTS_ARRAYS_MODEL_HPP
