#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "arrays_model.hpp"
#include "fast.h"

namespace {

using arrays_model::Input;
using arrays_model::Member;
using arrays_model::Result;

// Slots one byte wider than the longest string, the byte after each zero set to '#'.
std::vector<std::vector<char>> slots_of(const std::vector<std::string> &strings, size_t extra = 1) {
    size_t width = 1;
    for (const auto &s : strings) width = std::max(width, s.size() + 1);
    std::vector<std::vector<char>> slots;
    for (const auto &s : strings) {
        std::vector<char> slot(width + extra, '#');
        std::memcpy(slot.data(), s.c_str(), s.size() + 1);
        slots.push_back(slot);
    }
    return slots;
}

std::vector<std::string> strings_of(const std::vector<std::vector<char>> &slots) {
    std::vector<std::string> out;
    for (const auto &s : slots) out.emplace_back(s.data());
    return out;
}

struct Golden {
    Member member;
    std::vector<int64_t> keys;
    std::vector<int64_t> sorted;
    std::vector<int32_t> b;  // empty: no companion
};

TEST(ArraySort, GoldenPermutations) {
    const std::vector<int64_t> eq8(8, 4), alt = {2, 1, 2, 1, 2, 1, 2, 1};
    const std::vector<int32_t> eq8_b = {0, 5, 6, 3, 4, 1, 2, 7};
    const Golden cases[] = {
        {Member::Int2, eq8, eq8, eq8_b},
        {Member::Int2Down, eq8, eq8, eq8_b},
        {Member::Mix, eq8, eq8, eq8_b},
        {Member::Int2, alt, {1, 1, 1, 1, 2, 2, 2, 2}, {7, 5, 3, 1, 4, 2, 6, 0}},
        {Member::Int2Down, alt, {2, 2, 2, 2, 1, 1, 1, 1}, {0, 4, 2, 6, 3, 5, 1, 7}},
        {Member::Mix3,
         std::vector<int64_t>(9, -3),
         std::vector<int64_t>(9, -3),
         {0, 5, 7, 6, 4, 1, 3, 2, 8}},
        {Member::Int2, {3, 1, 2}, {1, 2, 3}, {1, 2, 0}},
        {Member::Int, {8, 7, 6, 5, 4, 3, 2, 1}, {1, 2, 3, 4, 5, 6, 7, 8}, {}},
        {Member::Int,
         {INT32_MAX, 0, INT32_MIN, -1, 1, INT32_MAX, INT32_MIN, 7, 2},
         {INT32_MIN, INT32_MIN, -1, 0, 1, 2, 7, INT32_MAX, INT32_MAX},
         {}},
        {Member::Long,
         {5000000000, -5000000000, INT64_MAX, INT64_MIN, 0, -1, 1, 4294967296, 3},
         {INT64_MIN, -5000000000, -1, 0, 1, 3, 4294967296, 5000000000, INT64_MAX},
         {}},
        {Member::Mix, {5000000000, -5000000000, 0}, {-5000000000, 0, 5000000000}, {1, 2, 0}},
    };
    for (const auto &g : cases) {
        SCOPED_TRACE(::testing::PrintToString(g.keys));
        for (const Result &r : {arrays_model::product(g.member, {g.keys, {}}),
                                arrays_model::model(g.member, {g.keys, {}})}) {
            EXPECT_EQ(g.sorted, r.keys);
            EXPECT_EQ(g.b, r.b);
            for (size_t k = 0; k < r.c.size(); ++k) EXPECT_EQ(r.b[k] + 10, r.c[k]);
        }
    }
}

TEST(ArraySort, GoldenStrings) {
    struct {
        std::vector<std::string> in, out;
        std::vector<int32_t> b;
    } const cases[] = {
        {{"b", "B", "a", "ab"}, {"B", "a", "ab", "b"}, {1, 2, 3, 0}},
        {std::vector<std::string>(8, "eq"),
         std::vector<std::string>(8, "eq"),
         {0, 5, 6, 3, 4, 1, 2, 7}},
    };
    for (const auto &g : cases) {
        bool kept = false;
        const Result r = arrays_model::product(Member::String, {{}, slots_of(g.in)}, &kept);
        EXPECT_TRUE(kept);
        EXPECT_EQ(g.out, strings_of(r.slots));
        EXPECT_EQ(g.b, r.b);
    }
}

TEST(ArraySort, CountsBelowTwoTouchNothing) {
    for (int32_t n : {INT32_MIN, -1, 0, 1}) {
        ArraySort_Int(n, nullptr);
        ArraySort_Long(n, nullptr);
        ArraySort_Int2(n, nullptr, nullptr);
        ArraySort2_Int2(n, nullptr, nullptr);
        ArraySort_Mix(n, nullptr, nullptr);
        ArraySort_Mix3(n, nullptr, nullptr, nullptr);
        ArraySort_String(n, nullptr, nullptr);
    }
}

// Random inputs with many equal keys, each member with companions against the model: same
// keys or slot bytes (tails after the zeros included) and same companion permutation; every
// member against std::sort.
TEST(ArraySort, MatchesStepModel) {
    std::mt19937_64 rng(20240607);
    const std::string alphabet = "aAb";
    for (Member m : arrays_model::kMembers) {
        for (int round = 0; round < 1500; ++round) {
            const size_t n = round % 50 == 0 ? rng() % 3000 : rng() % 80;
            const uint64_t spread = 1 + rng() % (round % 3 == 0 ? 3 : 40);
            const bool wide = round % 7 == 0;
            Input in;
            std::vector<std::string> strings;
            for (size_t k = 0; k < n; ++k) {
                const int64_t v = static_cast<int64_t>(rng() % spread) - 5;
                in.keys.push_back(wide ? v * (INT64_MAX / 64) : v);
                std::string s = wide ? std::string(60 + rng() % 20, 'p') : "";
                for (uint64_t len = rng() % 4; len > 0; --len) s += alphabet[rng() % spread % 3];
                strings.push_back(s);
            }
            in.slots = slots_of(strings, rng() % 3);
            const Result got = arrays_model::product(m, in);
            if (arrays_model::companions(m) > 0) {
                ASSERT_EQ(arrays_model::model(m, in), got) << "member " << int(m) << " n " << n;
            }
            if (m == Member::String) {
                std::sort(strings.begin(), strings.end());
                ASSERT_EQ(strings, strings_of(got.slots));
                continue;
            }
            if (arrays_model::narrow(m))
                for (auto &k : in.keys) k = static_cast<int32_t>(k);
            std::sort(in.keys.begin(), in.keys.end());
            if (m == Member::Int2Down) std::reverse(in.keys.begin(), in.keys.end());
            ASSERT_EQ(in.keys, got.keys);
        }
    }
}

// A key of `bits` bits from a 64-bit draw, over the whole range; the least and the greatest.
int64_t full(uint64_t r, int bits) {
    return static_cast<int64_t>(r) >> (64 - bits);
}
int64_t least(int bits) {
    return full(uint64_t{1} << 63, bits);
}
int64_t greatest(int bits) {
    return ~least(bits);
}

void sort_plain(int32_t n, int32_t *key) {
    ArraySort_Int(n, key);
}
void sort_plain(int32_t n, int64_t *key) {
    ArraySort_Long(n, key);
}

// Without companions nothing fixes the order of the moves: the array must be std::sort's, for
// each shape of input at sizes on both sides of the sort's internal limits and at random sizes,
// with both key widths, and the guard keys around the range must stay as they were.
TEST(ArraySort, PlainKeysMatchStdSort) {
    using Key = int64_t (*)(uint64_t r, int64_t k, int64_t n, int bits);  // key k of n
    const struct {
        const char *shape;
        Key key;
    } rows[] = {
        {"random", [](uint64_t r, int64_t, int64_t, int b) { return full(r, b); }},
        {"extremes",
         [](uint64_t r, int64_t, int64_t, int b) {
             return r % 2 ? least(b) + int64_t(r / 2 % 3) : greatest(b) - int64_t(r / 2 % 3);
         }},
        {"ordered, ties", [](uint64_t, int64_t k, int64_t n, int) { return k / 2 - n / 4; }},
        {"reversed, ties", [](uint64_t, int64_t k, int64_t n, int) { return (n - k) / 3 - n / 6; }},
        {"equal", [](uint64_t, int64_t, int64_t, int b) { return greatest(b); }},
        {"few",
         [](uint64_t r, int64_t, int64_t, int b) { return full(r % 5 * 0x9e3779b97f4a7c15, b); }},
        {"organ pipe", [](uint64_t, int64_t k, int64_t n, int) { return std::min(k, n - k); }},
        {"dups near 0",
         [](uint64_t r, int64_t, int64_t n, int) { return int64_t(r % (n / 4 + 1)) - n / 8; }},
        {"small, both signs",
         [](uint64_t r, int64_t, int64_t, int) { return int64_t(r % 2001) - 1000; }},
        {"top byte only",
         [](uint64_t r, int64_t, int64_t, int b) { return full(r >> 56 << 56, b); }},
        {"below the maximum",
         [](uint64_t r, int64_t, int64_t, int b) { return greatest(b) - int64_t(r % 600); }},
        {"powers of 2, both signs",
         [](uint64_t r, int64_t, int64_t, int b) {
             return (r % 2 ? -1 : 1) * (int64_t{1} << (r >> 8) % (b - 1));
         }},
        {"sawtooth", [](uint64_t, int64_t k, int64_t, int) { return k % 700; }},
    };
    std::mt19937_64 rng(20261208);
    std::vector<int64_t> sizes = {0,  1,   2,   3,   4,   5,   8,   9,    63,   64,
                                  65, 255, 256, 257, 511, 512, 513, 2049, 70001};
    for (int k = 0; k < 4; ++k) sizes.push_back(static_cast<int64_t>(rng() % 5000));
    auto check = [&](auto zero) {
        using T = decltype(zero);
        constexpr int kBits = 8 * sizeof(T);
        constexpr int64_t kGuard = 8;
        for (const auto &row : rows) {
            for (int64_t n : sizes) {
                std::vector<T> keys(n + 2 * kGuard, static_cast<T>(0x5a5a5a5a));
                for (int64_t k = 0; k < n; ++k)
                    keys[kGuard + k] = static_cast<T>(row.key(rng(), k, n, kBits));
                auto expect = keys;
                std::sort(expect.begin() + kGuard, expect.end() - kGuard);
                sort_plain(static_cast<int32_t>(n), keys.data() + kGuard);
                ASSERT_EQ(expect, keys) << row.shape << ", " << kBits << "-bit keys, n " << n;
            }
        }
    };
    check(int32_t{});
    check(int64_t{});
}

TEST(ArraySort, StringsOf63InSlotsOf64KeepTheirCanaries) {
    constexpr size_t kSlot = 64, kStride = kSlot + 1, kCount = 40;
    std::vector<char> memory(kCount * kStride, '!');
    std::vector<char *> ptr;
    std::vector<std::string> expected;
    std::mt19937 rng(7);
    for (size_t k = 0; k < kCount; ++k) {
        std::string s(63, 'a');
        s[rng() % 63] = static_cast<char>('a' + rng() % 3);
        s[62] = static_cast<char>('a' + k % 5);
        expected.push_back(s);
        ptr.push_back(std::strcpy(&memory[k * kStride], s.c_str()));
    }
    std::vector<int32_t> b(kCount, 0);
    ArraySort_String(kCount, ptr.data(), b.data());
    std::sort(expected.begin(), expected.end());
    for (size_t k = 0; k < kCount; ++k) {
        EXPECT_EQ(expected[k], ptr[k]);
        EXPECT_EQ(&memory[k * kStride], ptr[k]);
        EXPECT_EQ('!', memory[k * kStride + kSlot]) << "canary after slot " << k;
    }
}

TEST(SSwap, ExchangesStringsAndKeepsTails) {
    const std::string longer(100, 'L');
    struct {
        std::string x, y;
        bool self;
    } const cases[] = {{"abc", "de", false},
                       {"", "xyz", false},
                       {longer, "s", false},
                       {"abc", "abc", true},
                       {longer, longer, true}};
    for (const auto &c : cases) {
        const auto before = slots_of({c.x, c.y}, 6);
        auto slots = before;
        char *ptr[2] = {slots[0].data(), slots[c.self ? 0 : 1].data()};
        s_swap(ptr, 0, 1);
        auto expect = before;
        if (!c.self) {
            std::memcpy(expect[0].data(), c.y.c_str(), c.y.size() + 1);
            std::memcpy(expect[1].data(), c.x.c_str(), c.x.size() + 1);
        }
        EXPECT_EQ(expect, slots) << c.x << " / " << c.y;
    }
}

}  // namespace
