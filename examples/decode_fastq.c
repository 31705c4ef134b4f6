/*
 * decode_fastq: decode a FASTQ file with the fast library, print what it holds and the reverse
 * complement of its first read, then release everything.
 *
 * Build against an installed library, either way:
 *   cc decode_fastq.c $(pkg-config --cflags --libs fast) -o decode_fastq
 *   or find_package(fast CONFIG REQUIRED) and target_link_libraries(... fast::fast) in CMake
 * Run:
 *   ./decode_fastq reads.fq [QUALITY_THRESHOLD]
 */
#include <fast.h>

#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>

static int parse_threshold(const char *text, int32_t *threshold) {
    char *end;
    long value = strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < INT32_MIN || value > INT32_MAX) return 0;
    *threshold = (int32_t)value;
    return 1;
}

static void print_reverse_complement(const SeqEntry *read) {
    SeqEntry rc = {0};
    /* 1 means nothing to copy (no bases) or no memory; the second case prints a message. */
    if (reverseCompliment(read, &rc) != 0) return;
    printf("reverse complement of %s: %.*s\n", rc.name, (int)rc.length, rc.bases);
    if (rc.quals != NULL) {
        printf("its qualities (Phred+33): ");
        for (int32_t i = 0; i < rc.length; ++i) putchar(rc.quals[i] + 33);
        putchar('\n');
    }
    /* The copy's bases, quality values and name share one block that starts at its bases. */
    free(rc.bases);
}

int main(int argc, char **argv) {
    int32_t threshold = 20;
    if (argc < 2 || argc > 3 || (argc == 3 && !parse_threshold(argv[2], &threshold))) {
        fprintf(stderr, "usage: %s FILE.fq [QUALITY_THRESHOLD]\n", argv[0]);
        return 2;
    }

    int32_t count = 0;
    int64_t bases = 0;
    /* Prints its own summary line; on failure it prints why and returns NULL. */
    SeqEntry *reads = decodeFastq2(argv[1], &count, &bases, threshold);
    if (reads == NULL) return 1;

    printf("%" PRId32 " reads, %" PRId64 " bases\n", count, bases);
    for (int32_t i = 0; i < count; ++i) {
        const SeqEntry *r = &reads[i];
        printf("%s", r->name);
        if (r->comment != NULL) printf(" (%s)", r->comment);
        printf(": %" PRId32 " bases, %" PRId32 " with quality >= %" PRId32 "\n", r->length,
               countQthresh(r, threshold), threshold);
    }
    if (count > 0) print_reverse_complement(&reads[0]);

    /* Every name, comment, base and quality value lives in one buffer that starts at the first
     * read's name; the array of records is a block of its own. Both are right with 0 reads. */
    free(reads[0].name);
    free(reads);
    return 0;
}
