/*
 * The record index's work, for bench/index_bench.sh to time:
 *   index_tool build FILE [SPACING]   builds FILE.ridx; prints its points and size
 *   index_tool at FILE K...           reads entry K of each (through its index), one at a
 *                                     time, and prints "loop SECONDS" for the slowest
 */
#include <fast.h>

#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char **argv) {
    if (argc >= 3 && strcmp(argv[1], "build") == 0) {
        const int64_t spacing = argc > 3 ? strtoll(argv[3], NULL, 10) : 0;
        FastqIndex *index = indexFastq(argv[2], NULL, spacing, 0);
        if (index == NULL || fastqIndexError(index)) {
            fprintf(stderr, "%s\n", index ? fastqIndexError(index) : "out of memory");
            return 1;
        }
        printf("points %" PRId32 ", entries %" PRId64 "\n", fastqIndexPoints(index),
               fastqIndexEntries(index));
        closeFastqIndex(index);
        return 0;
    }
    if (argc >= 4 && strcmp(argv[1], "at") == 0) {
        FastqIndex *index = loadFastqIndex(argv[2], NULL);
        if (index == NULL || fastqIndexError(index)) {
            fprintf(stderr, "%s\n", index ? fastqIndexError(index) : "out of memory");
            return 1;
        }
        double slowest = 0;
        for (int i = 3; i < argc; ++i) {
            const int64_t k = strtoll(argv[i], NULL, 10);
            const double t0 = now();
            FastqStream *s = openFastqIndexRange(index, k, k + 1, 0, 1);
            SeqEntry *e;
            if (s == NULL || readFastqBatch(s, &e) != 1) {
                fprintf(stderr, "entry %" PRId64 ": %s\n", k,
                        s && fastqStreamError(s) ? fastqStreamError(s) : "not read");
                return 1;
            }
            closeFastqStream(s);
            const double took = now() - t0;
            if (took > slowest) slowest = took;
        }
        closeFastqIndex(index);
        printf("loop %.4f\n", slowest);
        return 0;
    }
    fprintf(stderr, "usage: index_tool build FILE [SPACING] | at FILE K...\n");
    return 2;
}
