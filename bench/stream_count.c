/*
 * The streaming reader's loop, for bench/stream_bench.sh to time beside other readers: counts
 * the entries and bases of FILE and prints "entries N, bases B", then "parse S", the CPU seconds
 * of the calling thread: with helpers reading ahead, the parse alone.
 *   stream_count FILE [BATCH_BYTES [THREADS]]     (0 or nothing: the stream's defaults)
 */
#include <fast.h>

#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double threadSeconds(void) {
    struct timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char **argv) {
    if (argc < 2 || argc > 4) {
        fprintf(stderr, "usage: stream_count FILE [BATCH_BYTES [THREADS]]\n");
        return 2;
    }
    const int64_t batch = argc > 2 ? strtoll(argv[2], NULL, 10) : 0;
    const int32_t threads = argc > 3 ? (int32_t)strtol(argv[3], NULL, 10) : 0;
    const double start = threadSeconds();
    FastqStream *s = openFastqStream(argv[1], batch, threads);
    if (s == NULL) {
        perror(argv[1]);
        return 1;
    }
    int64_t entries = 0, bases = 0;
    SeqEntry *e;
    int32_t n;
    while ((n = readFastqBatch(s, &e)) > 0) {
        entries += n;
        for (int32_t i = 0; i < n; ++i) bases += e[i].length;
    }
    if (n < 0) fprintf(stderr, "%s: %s\n", argv[1], fastqStreamError(s));
    closeFastqStream(s);
    if (n < 0) return 1;
    printf("entries %" PRId64 ", bases %" PRId64 "\n", entries, bases);
    printf("parse %.3f\n", threadSeconds() - start);
    return 0;
}
