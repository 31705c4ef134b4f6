// Decoder throughput on a generated FASTQ of about 1 GB, beside the floor of reading the file into
// one fresh buffer and one memchr pass over it; and reverseCompliment on 150-base reads.
//
// The file is written to $TMPDIR (or /tmp) at start-up and removed at exit; FAST_BENCH_MB
// changes its size in megabytes.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fast.h"
#include "fastq_gen.hpp"

namespace {

struct BenchFile {
    std::string path;
    int64_t size = 0;

    BenchFile() {
        const char *dir = std::getenv("TMPDIR");
        path = std::string(dir ? dir : "/tmp") + "/fast_bench_" + std::to_string(getpid()) + ".fq";
        const char *mb = std::getenv("FAST_BENCH_MB");
        std::FILE *f = std::fopen(path.c_str(), "w");
        if (!f) std::abort();
        size = writeBenchFastq(f, (mb ? std::atoll(mb) : 1024) << 20);
        std::fclose(f);
    }
    ~BenchFile() { std::remove(path.c_str()); }
};

// Written on first use, so that listing the benchmarks costs nothing; removed at exit.
const BenchFile &benchFile() {
    static const BenchFile f;
    return f;
}

void reportBytes(benchmark::State &state) {
    const BenchFile &file = benchFile();
    state.SetBytesProcessed(state.iterations() * file.size);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    state.counters["file_MB"] = static_cast<double>(file.size) / (1 << 20);
}

// Decoders print their summary or messages; keep them off the report.
struct QuietStdout {
    int saved;
    QuietStdout() : saved(dup(1)) {
        std::fflush(stdout);
        std::FILE *null = std::fopen("/dev/null", "w");
        dup2(fileno(null), 1);
        std::fclose(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
};

void BM_DecodeFastq2(benchmark::State &state) {
    const BenchFile &file = benchFile();
    QuietStdout quiet;
    for (auto _ : state) {
        int32_t count = 0;
        int64_t total = 0;
        SeqEntry *e = decodeFastq2(file.path.c_str(), &count, &total, 20);
        if (!e) state.SkipWithError("decodeFastq2 failed");
        benchmark::DoNotOptimize(total);
        if (e) free(e[0].name);
        free(e);
    }
    reportBytes(state);
}

void BM_ExtractThenDecodeFastq(benchmark::State &state) {
    const BenchFile &file = benchFile();
    QuietStdout quiet;
    for (auto _ : state) {
        char *buffer = static_cast<char *>(std::malloc(static_cast<size_t>(file.size) + 1));
        const int32_t segments = extractFastq(file.path.c_str(), buffer, 0);
        SeqEntry *records =
            static_cast<SeqEntry *>(std::malloc(sizeof(SeqEntry) * (segments ? segments : 1)));
        int32_t count = 0;
        int64_t total = 0;
        decodeFastq(file.path.c_str(), &count, &total, buffer, 0, records);
        if (count != segments) state.SkipWithError("decodeFastq lost entries");
        benchmark::DoNotOptimize(total);
        std::free(records);
        std::free(buffer);
    }
    reportBytes(state);
}

void BM_FloorReadAndMemchr(benchmark::State &state) {
    const BenchFile &file = benchFile();
    for (auto _ : state) {
        std::FILE *f = std::fopen(file.path.c_str(), "r");
        std::fseek(f, 0, SEEK_END);
        const long size = std::ftell(f);
        std::rewind(f);
        char *buffer = static_cast<char *>(std::malloc(static_cast<size_t>(size) + 1));
        if (std::fread(buffer, 1, static_cast<size_t>(size), f) != static_cast<size_t>(size))
            state.SkipWithError("short read");
        std::fclose(f);
        buffer[size] = 0;
        benchmark::DoNotOptimize(std::memchr(buffer, 1, static_cast<size_t>(size) + 1));
        std::free(buffer);
    }
    reportBytes(state);
}

void BM_ReverseCompliment150(benchmark::State &state) {
    std::string bases(150, 'A'), name = "M04211:137:000000000-K7L2P:1:1101:15589:1333";
    std::vector<int8_t> quals(150);
    std::mt19937 rng(3);
    for (int i = 0; i < 150; ++i) {
        bases[i] = "ACGT"[rng() % 4];
        quals[i] = static_cast<int8_t>(rng() % 42);
    }
    SeqEntry src{};
    src.name = name.data();
    src.bases = bases.data();
    src.quals = quals.data();
    src.length = 150;
    for (auto _ : state) {
        SeqEntry dst;
        reverseCompliment(&src, &dst);
        benchmark::DoNotOptimize(dst.bases[0]);
        free(dst.bases);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * 150);
}

}  // namespace

BENCHMARK(BM_DecodeFastq2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3)
    ->Repetitions(3);
BENCHMARK(BM_ExtractThenDecodeFastq)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3)
    ->Repetitions(3);
BENCHMARK(BM_FloorReadAndMemchr)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3)
    ->Repetitions(3);
BENCHMARK(BM_ReverseCompliment150);

BENCHMARK_MAIN();
