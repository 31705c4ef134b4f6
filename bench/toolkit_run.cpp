// One decoder call on a file, for bench/toolkit_bench.sh to time beside other tools:
//   toolkit_run gen MB           writes the benchmark FASTQ of about MB megabytes to stdout
//   toolkit_run decode2 PATH     decodeFastq2 (its summary line goes to stdout)
//   toolkit_run pair PATH        extractFastq, then decodeFastq into buffers of the file's size
//   toolkit_run floor PATH       the naive floor: fread into a fresh buffer, one memchr pass
//   toolkit_run walk PATH        decodeFastq2, three passes over the records in a scattered
//                                order, then the release; prints the seconds of each step
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fast.h"
#include "fastq_gen.hpp"

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: toolkit_run gen|decode2|pair|floor|walk ARG\n");
        return 2;
    }
    const char *mode = argv[1], *path = argv[2];
    if (std::strcmp(mode, "gen") == 0) {
        writeBenchFastq(stdout, std::atoll(path) << 20);
        return 0;
    }
    if (std::strcmp(mode, "decode2") == 0) {
        int32_t count = 0;
        int64_t total = 0;
        SeqEntry *e = decodeFastq2(path, &count, &total, 20);
        if (!e) return 1;
        std::free(e[0].name);
        std::free(e);
        return 0;
    }
    if (std::strcmp(mode, "walk") == 0) {
        // What the memory's page size changes: its first touch while decoding, lookups that
        // jump all over it (as pairing or sorting the records would), and handing it back.
        using Clock = std::chrono::steady_clock;
        const auto seconds = [](Clock::time_point a, Clock::time_point b) {
            return std::chrono::duration<double>(b - a).count();
        };
        const auto t0 = Clock::now();
        int32_t count = 0;
        int64_t total = 0;
        SeqEntry *e = decodeFastq2(path, &count, &total, 20);
        if (!e || count == 0) return 1;
        const auto t1 = Clock::now();
        const uint64_t n = static_cast<uint64_t>(count);
        uint64_t step = 2654435761u % n;
        while (step % 2 == 0 || n % step == 0) ++step;
        int64_t good = 0;
        for (int pass = 0; pass < 3; ++pass)
            for (uint64_t i = 0, k = 0; i < n; ++i) {
                k += step;
                if (k >= n) k -= n;
                good += countQthresh(&e[k], 20);
            }
        const auto t2 = Clock::now();
        std::free(e[0].name);
        std::free(e);
        const auto t3 = Clock::now();
        std::printf("%ld bases >= 20; decode %.3f scattered %.3f release %.3f\n",
                    static_cast<long>(good), seconds(t0, t1), seconds(t1, t2), seconds(t2, t3));
        return 0;
    }
    struct stat st;
    if (stat(path, &st) != 0) return 1;
    const size_t size = static_cast<size_t>(st.st_size);
    char *buffer = static_cast<char *>(std::malloc(size + 1));
    if (!buffer) return 1;
    if (std::strcmp(mode, "floor") == 0) {
        std::FILE *f = std::fopen(path, "r");
        const bool whole = f && std::fread(buffer, 1, size, f) == size;
        if (f) std::fclose(f);
        buffer[size] = 0;
        const bool found = std::memchr(buffer, 1, size + 1) != nullptr;
        std::free(buffer);
        return whole && !found ? 0 : 1;
    }
    const int32_t segments = extractFastq(path, buffer, 0);
    SeqEntry *records =
        static_cast<SeqEntry *>(std::malloc(sizeof(SeqEntry) * (segments > 0 ? segments : 1)));
    int32_t count = 0;
    int64_t total = 0;
    decodeFastq(path, &count, &total, buffer, 0, records);
    std::printf("segments %d, entries %d, bases %ld\n", segments, count, static_cast<long>(total));
    std::free(records);
    std::free(buffer);
    return count == segments ? 0 : 1;
}
