// The sorts beside std::sort of the same data; per_elem is the CPU time per element.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "fast.h"

namespace {

constexpr int32_t kNumbers = 10000000;
constexpr int32_t kStrings = 1000000;
constexpr size_t kWidth = 21;  // 20 characters and the zero

template <class T>
const std::vector<T> &random_values(int32_t n) {
    static const std::vector<T> values = [n] {
        std::mt19937_64 rng(42);
        std::vector<T> v(n);
        for (auto &x : v) x = static_cast<T>(rng());
        return v;
    }();
    return values;
}

const std::vector<std::array<char, kWidth>> &random_strings() {
    static const std::vector<std::array<char, kWidth>> strings = [] {
        std::mt19937 rng(42);
        std::vector<std::array<char, kWidth>> v(kStrings);
        for (auto &s : v) {
            for (size_t k = 0; k + 1 < kWidth; ++k) s[k] = static_cast<char>('a' + rng() % 26);
            s[kWidth - 1] = '\0';
        }
        return v;
    }();
    return strings;
}

// Runs `sort` on a fresh copy of `data` per iteration; only the sort is timed.
template <class Data, class Sort>
void timed(benchmark::State &state, const Data &data, int32_t elements, Sort sort) {
    Data work;
    for (auto _ : state) {
        state.PauseTiming();
        work = data;
        state.ResumeTiming();
        sort(work);
        benchmark::ClobberMemory();
    }
    state.counters["per_elem"] = benchmark::Counter(
        elements, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_ArraySort_Int(benchmark::State &state) {
    timed(state, random_values<int32_t>(kNumbers), kNumbers,
          [](std::vector<int32_t> &v) { ArraySort_Int(static_cast<int32_t>(v.size()), v.data()); });
}

void BM_StdSort_Int(benchmark::State &state) {
    timed(state, random_values<int32_t>(kNumbers), kNumbers,
          [](std::vector<int32_t> &v) { std::sort(v.begin(), v.end()); });
}

using MixColumns = std::pair<std::vector<int64_t>, std::vector<int32_t>>;
using MixPairs = std::vector<std::pair<int64_t, int32_t>>;

void BM_ArraySort_Mix(benchmark::State &state) {
    MixColumns data{random_values<int64_t>(kNumbers), std::vector<int32_t>(kNumbers)};
    for (int32_t k = 0; k < kNumbers; ++k) data.second[k] = k;
    timed(state, data, kNumbers, [](MixColumns &c) {
        ArraySort_Mix(static_cast<int32_t>(c.first.size()), c.first.data(), c.second.data());
    });
}

void BM_StdSort_MixPairs(benchmark::State &state) {
    const auto &keys = random_values<int64_t>(kNumbers);
    MixPairs data(kNumbers);
    for (int32_t k = 0; k < kNumbers; ++k) data[k] = {keys[k], k};
    timed(state, data, kNumbers, [](MixPairs &p) {
        std::sort(p.begin(), p.end(),
                  [](const auto &x, const auto &y) { return x.first < y.first; });
    });
}

using Slots = std::vector<std::array<char, kWidth>>;

void BM_ArraySort_String(benchmark::State &state) {
    std::vector<int32_t> b(kStrings);
    std::vector<char *> ptr(kStrings);
    timed(state, random_strings(), kStrings, [&](Slots &s) {
        for (int32_t k = 0; k < kStrings; ++k) ptr[k] = s[k].data(), b[k] = k;
        ArraySort_String(kStrings, ptr.data(), b.data());
    });
}

void BM_StdSort_StringPointers(benchmark::State &state) {
    std::vector<const char *> ptr(kStrings);
    timed(state, random_strings(), kStrings, [&](Slots &s) {
        for (int32_t k = 0; k < kStrings; ++k) ptr[k] = s[k].data();
        std::sort(ptr.begin(), ptr.end(),
                  [](const char *x, const char *y) { return std::strcmp(x, y) < 0; });
    });
}

void BM_StdSort_StringSlots(benchmark::State &state) {
    timed(state, random_strings(), kStrings, [](Slots &s) {
        std::sort(s.begin(), s.end(),
                  [](const auto &x, const auto &y) { return std::strcmp(x.data(), y.data()) < 0; });
    });
}

}  // namespace

BENCHMARK(BM_ArraySort_Int)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_StdSort_Int)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ArraySort_Mix)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_StdSort_MixPairs)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ArraySort_String)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_StdSort_StringPointers)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_StdSort_StringSlots)->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();
