/*
 * The classic kseq loop over zlib's gzread, which reads plain text as it is and gzip through
 * zlib: counts the entries and bases of FILE and prints "entries N, bases B", as stream_count
 * does, for bench/stream_bench.sh to time beside it. Built only where htslib/kseq.h is found.
 *   kseq_count FILE
 */
#include <htslib/kseq.h>
#include <zlib.h>

#include <inttypes.h>
#include <stdint.h>
#include <stdio.h>

KSEQ_INIT(gzFile, gzread)

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: kseq_count FILE\n");
        return 2;
    }
    gzFile fp = gzopen(argv[1], "r");
    if (fp == NULL) {
        perror(argv[1]);
        return 1;
    }
    kseq_t *seq = kseq_init(fp);
    int64_t entries = 0, bases = 0;
    int l;
    while ((l = kseq_read(seq)) >= 0) {
        ++entries;
        bases += (int64_t)seq->seq.l;
    }
    kseq_destroy(seq);
    gzclose(fp);
    /* -1 is the end of the file; below it, a truncated quality or a read error. */
    if (l < -1) {
        fprintf(stderr, "%s: kseq_read failed (%d)\n", argv[1], l);
        return 1;
    }
    printf("entries %" PRId64 ", bases %" PRId64 "\n", entries, bases);
    return 0;
}
