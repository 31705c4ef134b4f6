/*
 * stream_fastq: read a FASTQ file, or the two files of paired-end reads, in batches with the fast
 * library's streaming reader, and print how many entries and bases they hold. Memory stays
 * bounded by the batch size whatever the files' size; plain, gzip and BGZF files, pipes and "-"
 * for standard input all read alike.
 *
 * Build against an installed library, either way:
 *   cc stream_fastq.c $(pkg-config --cflags --libs fast) -o stream_fastq
 *   or find_package(fast CONFIG REQUIRED) and target_link_libraries(... fast::fast) in CMake
 * Run:
 *   ./stream_fastq reads.fq.gz
 *   ./stream_fastq reads_1.fq.gz reads_2.fq.gz
 */
#include <fast.h>

#include <errno.h>
#include <inttypes.h>
#include <stdio.h>
#include <string.h>

/* Default batch size (0) and threads (0: as many as help). */
static FastqStream *open_stream(const char *path) {
    FastqStream *s = openFastqStream(path, 0, 0);
    if (s == NULL) fprintf(stderr, "%s: %s\n", path, strerror(errno));
    return s;
}

static int count_one(const char *path) {
    FastqStream *s = open_stream(path);
    if (s == NULL) return 1;
    int64_t entries = 0, bases = 0;
    SeqEntry *batch;
    int32_t n;
    /* The entries of a batch are the stream's, valid until the next call on it. */
    while ((n = readFastqBatch(s, &batch)) > 0) {
        entries += n;
        for (int32_t i = 0; i < n; ++i) bases += batch[i].length;
    }
    if (n < 0) {
        fprintf(stderr, "%s: %s\n", path, fastqStreamError(s));
    } else {
        printf("%" PRId64 " entries, %" PRId64 " bases\n", entries, bases);
        /* Entries whose quality and bases differ in length are left out. */
        if (fastqStreamSkipped(s) > 0)
            printf("%" PRId64 " entries skipped\n", fastqStreamSkipped(s));
    }
    closeFastqStream(s);
    return n < 0;
}

static int count_pairs(const char *first_path, const char *second_path) {
    FastqStream *first = open_stream(first_path);
    if (first == NULL) return 1;
    FastqStream *second = open_stream(second_path);
    if (second == NULL) {
        closeFastqStream(first);
        return 1;
    }
    int64_t pairs = 0, first_bases = 0, second_bases = 0;
    SeqEntry *a, *b;
    int32_t n;
    /* a[i] and b[i] are mates: the call checks their names and that both files end together. */
    while ((n = readFastqPairBatch(first, second, &a, &b)) > 0) {
        pairs += n;
        for (int32_t i = 0; i < n; ++i) {
            first_bases += a[i].length;
            second_bases += b[i].length;
        }
    }
    if (n < 0)
        fprintf(stderr, "%s, %s: %s\n", first_path, second_path, fastqStreamError(first));
    else
        printf("%" PRId64 " pairs, %" PRId64 " bases in the first file, %" PRId64
               " in the second\n",
               pairs, first_bases, second_bases);
    closeFastqStream(first);
    closeFastqStream(second);
    return n < 0;
}

int main(int argc, char **argv) {
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: %s READS.fq | %s READS_1.fq READS_2.fq\n", argv[0], argv[0]);
        return 2;
    }
    return argc == 2 ? count_one(argv[1]) : count_pairs(argv[1], argv[2]);
}
