// One decoder call on a file, for bench/toolkit_bench.sh to time beside other tools:
//   toolkit_run gen MB           writes the benchmark FASTQ of about MB megabytes to stdout
//   toolkit_run decode2 PATH     decodeFastq2 (its summary line goes to stdout)
//   toolkit_run pair PATH        extractFastq, then decodeFastq into buffers of the file's size
//   toolkit_run floor PATH       the naive floor: fread into a fresh buffer, one memchr pass
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fast.h"
#include "fastq_gen.hpp"

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: toolkit_run gen|decode2|pair|floor ARG\n");
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
