/*
 * fastq_copy: copy a read set, in any format the fast library reads, to a plain, BGZF or zstd
 * file (chosen by the output's name: ".gz" or ".bgz" BGZF, ".zst" zstd, else plain), or the two
 * files of paired-end reads to two files with their names checked pair by pair. The output is
 * in place only when every byte of it was written and synced: the exit status is 0 then, and 1
 * with a message otherwise, when no file is left under the output's name (the two files of a
 * pair are finished together: both, or neither).
 *
 * Build against an installed library, either way:
 *   cc fastq_copy.c $(pkg-config --cflags --libs fast) -o fastq_copy
 *   or find_package(fast CONFIG REQUIRED) and target_link_libraries(... fast::fast) in CMake
 * Run:
 *   ./fastq_copy reads.fq.gz reads.fq.zst                 (default level and threads)
 *   ./fastq_copy reads.fq reads.fq.gz 6 2                 (level 6, two threads in all)
 *   ./fastq_copy r1.fq.gz r2.fq.gz o1.fq.gz o2.fq.gz [LEVEL [THREADS]]
 *   ./fastq_copy --no-sync --fasta-width 60 contigs.fa copy.fa
 *   ./fastq_copy --index reads.fq.gz reads.fq.zst         (with reads.fq.zst.ridx beside it)
 * With four names the copy is of a pair; with four arguments of which the last two are
 * numbers, of one file at that level and thread count. --no-sync leaves out the sync before
 * the output is put in place (for an intermediate file: only a crash of the machine can then
 * lose it), --fasta-width N writes FASTA entries in lines of at most N bases, and --index
 * writes each output's record index beside it, put in place with it.
 */
#include <fast.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int all_digits(const char *s) {
    if (*s == 0) return 0;
    for (; *s; ++s)
        if (*s < '0' || *s > '9') return 0;
    return 1;
}

/* Closes what is open, and returns the exit status. */
static int done(FastqStream **in, FastqWriter **out, int n, int status) {
    for (int i = 0; i < n; ++i) {
        closeFastqStream(in[i]);
        closeFastqWriter(out[i]); /* removes an unfinished output */
    }
    return status;
}

int main(int argc, char **argv) {
    FastqWriterOptions options;
    memset(&options, 0, sizeof options);
    options.size = sizeof options;
    const char *program = argv[0];
    while (argc > 1 && strncmp(argv[1], "--", 2) == 0) {
        if (strcmp(argv[1], "--no-sync") == 0) {
            options.flags |= FAST_WRITE_NO_SYNC;
        } else if (strcmp(argv[1], "--index") == 0) {
            options.flags |= FAST_WRITE_INDEX;
        } else if (strcmp(argv[1], "--fasta-width") == 0 && argc > 2 && all_digits(argv[2])) {
            options.fasta_width = atoi(argv[2]);
            --argc;
            ++argv;
        } else {
            argc = 0; /* the usage */
            break;
        }
        --argc;
        ++argv;
    }
    int pair = argc >= 5 && !(argc == 5 && all_digits(argv[3]) && all_digits(argv[4]));
    int paths = pair ? 4 : 2;
    if (argc < 3 || argc > paths + 3) {
        fprintf(stderr,
                "usage: %s [--no-sync] [--index] [--fasta-width N] IN OUT [LEVEL [THREADS]]\n"
                "       %s [--no-sync] [--index] [--fasta-width N] IN1 IN2 OUT1 OUT2 [LEVEL "
                "[THREADS]]\n",
                program, program);
        return 2;
    }
    int level = argc > paths + 1 ? atoi(argv[paths + 1]) : 0;
    int threads = argc > paths + 2 ? atoi(argv[paths + 2]) : 0;
    options.level = level;
    options.threads = threads;
    int n = pair ? 2 : 1;
    FastqStream *in[2] = {NULL, NULL};
    FastqWriter *out[2] = {NULL, NULL};
    for (int i = 0; i < n; ++i) {
        const char *from = argv[1 + i], *to = argv[1 + n + i];
        in[i] = openFastqStream(from, 0, threads);
        if (in[i] == NULL) {
            fprintf(stderr, "%s: %s\n", from, strerror(errno));
            return done(in, out, n, 1);
        }
        out[i] = openFastqWriterWith(to, &options);
        if (out[i] == NULL) {
            fprintf(stderr, "%s: %s\n", to, strerror(errno));
            return done(in, out, n, 1);
        }
    }
    SeqEntry *a, *b;
    int32_t got;
    /* Each batch goes out before the next is read: its entries are the stream's until then. */
    for (;;) {
        got = pair ? readFastqPairBatch(in[0], in[1], &a, &b) : readFastqBatch(in[0], &a);
        if (got <= 0) break;
        int32_t put =
            pair ? writeFastqPairBatch(out[0], out[1], a, b, got) : writeFastqBatch(out[0], a, got);
        if (put < 0) {
            fprintf(stderr, "%s: %s\n", argv[1 + n], fastqWriterError(out[0]));
            return done(in, out, n, 1);
        }
    }
    if (got < 0) {
        fprintf(stderr, "%s: %s\n", argv[1], fastqStreamError(in[0]));
        return done(in, out, n, 1);
    }
    /* Both files of a pair are written and synced before either is put in place. */
    if (finishFastqWriters(out, n) != 0) {
        for (int i = 0; i < n; ++i)
            if (fastqWriterError(out[i]))
                fprintf(stderr, "%s: %s\n", argv[1 + n + i], fastqWriterError(out[i]));
        return done(in, out, n, 1);
    }
    return done(in, out, n, 0);
}
