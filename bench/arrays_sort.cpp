// The sorts beside std::sort of the same data; per_elem is the CPU time per element. Each sort
// of plain integers is registered right before std::sort of the same input, so the two of a
// pair run back to back: compare within a pair.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "fast.h"

namespace {

constexpr int32_t kNumbers = 10000000;
constexpr int32_t kStrings = 1000000;
constexpr size_t kWidth = 21;       // 20 characters and the zero
constexpr int32_t kPool = 1 << 20;  // elements per iteration of the small-array benchmarks
constexpr int32_t kMixedSizes = 0;  // small-array size argument: sizes 1 to 64 in turn

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

// Input shapes for the integer sorts. "dup4" draws from n / 4 values around 0, so each key
// occurs about four times; "few" from 16 values anywhere in the key's range.
const char *const kShapes[] = {"random", "dup4", "sorted",    "reversed",
                               "equal",  "few",  "organ-pipe"};

template <class T>
std::vector<T> shaped(const std::string &shape, int32_t n) {
    std::mt19937_64 rng(7);
    std::vector<T> v(n);
    if (shape == "dup4") {
        for (auto &x : v) x = static_cast<T>(static_cast<int64_t>(rng() % (n / 4)) - n / 8);
    } else if (shape == "equal") {
        std::fill(v.begin(), v.end(), static_cast<T>(rng()));
    } else if (shape == "few") {
        T values[16];
        for (auto &x : values) x = static_cast<T>(rng());
        for (auto &x : v) x = values[rng() % 16];
    } else if (shape == "organ-pipe") {
        for (int32_t k = 0; k < n; ++k) v[k] = static_cast<T>(k < n / 2 ? k : n - 1 - k);
    } else {
        for (auto &x : v) x = static_cast<T>(rng());
        if (shape == "sorted") std::sort(v.begin(), v.end());
        if (shape == "reversed") std::sort(v.begin(), v.end(), std::greater<T>());
    }
    return v;
}

void library_sort(int32_t *key, int32_t n) {
    ArraySort_Int(n, key);
}
void library_sort(int64_t *key, int32_t n) {
    ArraySort_Long(n, key);
}
template <class T>
void std_sort(T *key, int32_t n) {
    std::sort(key, key + n);
}

// Sorts kPool random keys as consecutive arrays of `size` elements (kMixedSizes: 1, 2, ... 64,
// 1, 2, ...), so each iteration makes many calls on small arrays.
template <class T>
void small_arrays(benchmark::State &state, int32_t size, void (*sort)(T *, int32_t)) {
    std::vector<int32_t> sizes;
    for (int32_t used = 0, k = 0;; ++k) {
        const int32_t s = size == kMixedSizes ? k % 64 + 1 : size;
        if (used + s > kPool) break;
        sizes.push_back(s);
        used += s;
    }
    timed(state, shaped<T>("random", kPool), kPool, [&](std::vector<T> &v) {
        T *p = v.data();
        for (int32_t s : sizes) sort(p, s), p += s;
    });
}

template <class T>
using SortFn = void (*)(T *, int32_t);

// Registers the library's sort and std::sort, in this order, under "<name>/library" and
// "<name>/std::sort".
template <class T, class Run>
void register_pair(const std::string &name, int iterations, Run run) {
    const std::pair<const char *, SortFn<T>> sorts[] = {{"library", library_sort},
                                                        {"std::sort", std_sort<T>}};
    for (const auto &[who, sort] : sorts) {
        benchmark::RegisterBenchmark(
            (name + "/" + who).c_str(),
            [run, sort = sort](benchmark::State &state) { run(state, sort); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(iterations);
    }
}

template <class T>
void register_integers(const std::string &type) {
    for (const std::string shape : kShapes) {
        // Made on first use and shared by the pair.
        auto data = std::make_shared<std::vector<T>>();
        register_pair<T>(type + "/" + shape, 5,
                         [shape, data](benchmark::State &state, SortFn<T> sort) {
                             if (data->empty()) *data = shaped<T>(shape, kNumbers);
                             timed(state, *data, kNumbers, [sort](std::vector<T> &v) {
                                 sort(v.data(), static_cast<int32_t>(v.size()));
                             });
                         });
    }
    for (int32_t size : {1, 2, 3, 4, 8, 16, 32, 64, kMixedSizes}) {
        const std::string name =
            type + "/small-" + (size == kMixedSizes ? "1to64" : std::to_string(size));
        register_pair<T>(name, 20, [size](benchmark::State &state, SortFn<T> sort) {
            small_arrays<T>(state, size, sort);
        });
    }
}

void BM_ArraySort_Int2(benchmark::State &state) {
    using Columns = std::pair<std::vector<int32_t>, std::vector<int32_t>>;
    Columns data{random_values<int32_t>(kNumbers), std::vector<int32_t>(kNumbers)};
    for (int32_t k = 0; k < kNumbers; ++k) data.second[k] = k;
    timed(state, data, kNumbers, [](Columns &c) {
        ArraySort_Int2(static_cast<int32_t>(c.first.size()), c.first.data(), c.second.data());
    });
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

BENCHMARK(BM_ArraySort_Int2)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ArraySort_Mix)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_StdSort_MixPairs)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ArraySort_String)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_StdSort_StringPointers)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_StdSort_StringSlots)->Unit(benchmark::kMillisecond)->Iterations(5);

int main(int argc, char **argv) {
    register_integers<int32_t>("Int");
    register_integers<int64_t>("Long");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
