/*
 * fast.h: in-memory FASTQ/FASTA decoding, sequence-entry operations,
 * offset-indexed matrices and in-place quicksorts with companion arrays.
 *
 * Plain C interface (C11 and C++17). Every function is stateless between
 * calls. Memory handed to the caller comes from malloc()/calloc() and is
 * released with free(), as each declaration states; the library has no
 * release functions of its own.
 */
#ifndef FAST_H
#define FAST_H

#include <stdint.h>

#define FAST_VERSION_MAJOR 0
#define FAST_VERSION_MINOR 2
#define FAST_VERSION_PATCH 0
#define FAST_VERSION_STRING "0.2.0"

#ifdef __cplusplus
extern "C" {
#endif

/* The library is built with hidden visibility: what this header declares is its interface. */
#if defined(__GNUC__)
#pragma GCC visibility push(default)
#endif

/* ======================================================================
 * Sequence entries
 * ====================================================================== */

/*
 * One decoded FASTA or FASTQ entry (a "segment" in the messages).
 * A SeqEntry owns nothing by itself: entries filled by a decoder point into
 * that decoder's entry buffer, which its caller owns and releases as a
 * whole; a copy made by duplicateRead() or reverseCompliment() lives in one
 * malloc() block that starts at its `bases`, released by free(bases).
 */
typedef struct SeqEntry {
    char *name;       /* header text after the marker up to the name's end, zero-terminated */
    char *comment;    /* rest of the header line, zero-terminated; NULL when there was none */
    int64_t aux;      /* opaque to the library; copied by both copy operations */
    char *aux_text;   /* optional string of the caller's; never set by the decoders */
    int32_t length;   /* number of bases */
    char *bases;      /* `length` base letters, not terminated */
    int8_t *quals;    /* `length` quality values (numbers, not letters); NULL for FASTA */
    int32_t is_fasta; /* 1 for a FASTA entry, 0 for a FASTQ entry */
} SeqEntry;

/* Number of bases of `entry` whose quality value is >= threshold (signed
 * comparison). A FASTA entry (is_fasta != 0) returns `length` whatever the
 * threshold; a FASTQ entry with quals == NULL, or with length <= 0, gives 0.
 * Prints nothing. */
int32_t countQthresh(const SeqEntry *entry, int32_t threshold);

/* Exact copy of src into dst, in one new malloc() block that starts at
 * dst->bases and also holds dst->name and dst->aux_text: bases, quality
 * room when src->is_fasta == 0 (filled from src->quals, or with zeros when
 * src->quals is NULL; dst->quals is NULL for FASTA), name, aux and aux_text
 * (NULL when src has none). dst->comment is not touched; src is only read.
 * Returns 0 on success. Returns 1 when src has no bases or length <= 0
 * (nothing allocated, nothing printed), or when the block cannot be had
 * (prints "ERROR reverseCompliment: malloc" on standard output). dst->bases
 * is NULL and dst->length 0 after any failure. Release with free(dst->bases). */
int32_t duplicateRead(const SeqEntry *src, SeqEntry *dst);

/* Reverse complement of src into dst, in one new malloc() block that starts
 * at dst->bases and also holds dst->name. A<->T and C<->G are complemented;
 * every other byte (lower case, N) is kept as it is. Quality values, when
 * src->quals is not NULL, are reversed; otherwise dst->quals is NULL. name,
 * aux, length and is_fasta are copied; comment and aux_text are not touched.
 * Returns 0 on success. Returns 1 when src has no bases or length <= 0
 * (silently; dst->bases is left as it was, dst->length is 0), or when the
 * block cannot be had (prints "ERROR reverseCompliment: malloc" on standard
 * output; dst->bases is then NULL). Release with free(dst->bases). */
int32_t reverseCompliment(const SeqEntry *src, SeqEntry *dst);

/* Upper-case (fastaUC) or lower-case (fastaLC) the bases of the first
 * `count` entries in place, by the C library's case mapping of the current
 * locale; names, comments and quality values are not changed. Nothing when
 * count <= 0. */
void fastaUC(SeqEntry *entries, int32_t count);
void fastaLC(SeqEntry *entries, int32_t count);

/* ======================================================================
 * Decoders
 *
 * Both decoders read a whole text into one entry buffer and rewrite it in
 * place: every accepted entry's name, comment
 * (each with a zero byte), bases and quality values, packed from the
 * buffer's first byte in file order. Only the line feed ends a line. A
 * header line starts with "@" or ">"; the name ends at a blank (also a tab
 * for decodeFastq) or the line end; the comment is the rest of the line.
 * Bases run over any number of lines up to a line starting with "+" or
 * ">". A blank among the first 20 bytes of the first quality line selects
 * the numeric reading (blank-separated decimal numbers, two significant
 * digits: "123" gives 12); otherwise each byte is a Phred+33 letter. A FASTQ
 * entry whose number of values differs from its number of bases is dropped
 * with a warning. A header or "+" line cut off by the end of the file ends
 * its entry there. Layout faults are reported and never make a call fail.
 *
 * Whole-file buffers of 4 MiB or more (the entry buffer and the record
 * array of decodeFastq2(), the callers' buffers of extractFastq() and
 * decodeFastq()) are faulted in by a helper thread of the call, ahead of
 * the reading, so that what fresh memory costs the system overlaps the
 * call's own work. A library built with FAST_HUGE_PAGES also advises them
 * for transparent huge pages before their first write (madvise
 * MADV_HUGEPAGE on the pages they cover). A compressed text expected to be
 * 8 MiB or more is decompressed by another helper thread, ahead of the
 * call's counting, straight into the entry buffer; BGZF blocks (gzip
 * members that state their size) inflate on a helper a core, up to 8,
 * several at once. None of this changes a byte or a result. No call leaves a
 * thread behind, and calls on different files are independent.
 * ====================================================================== */

/* Decode a whole FASTQ/FASTA text (entries of both kinds may be mixed; each
 * entry's own marker decides) into a new record array over a new entry
 * buffer, and print on standard output
 *   "Total memory = %ld, total bases = %ld, Qbases(%d) = %ld, segments = %d"
 * (bytes the records occupy, their bases, bases with a value >= threshold,
 * FASTA bases all counting, and the number of records).
 * The path may name a regular file, or anything read to its end: a pipe,
 * a FIFO, /dev/stdin, a process substitution. A compressed text is known
 * by its first bytes, never by its name: 0x1f 0x8b is gzip, 28 b5 2f fd (or
 * a skippable frame, 5? 2a 4d 18) zstd, fd 37 7a 58 5a 00 xz, and "BZh"
 * with a digit 1 to 9 and the magic of a block (or of the end of an empty
 * stream) bzip2. Every stream is decompressed in order (gzip
 * members and BGZF blocks, zstd frames, concatenated xz streams, the
 * streams of parallel bzip2 compressors; skippable zstd frames are passed
 * over, zero bytes after the last gzip member ignored, and xz stream
 * padding, zero bytes in fours between and after streams, passed over, as
 * their tools do), and the result is exactly what the text gives
 * as a plain file: records, warnings and summary. zstd, xz and bzip2 need
 * libzstd, liblzma and libbz2 when the library is built; a build without
 * one refuses that format (see below).
 * Memory: the entry buffer holds the text and a closing zero byte. A text
 * of unknown size (compressed, or from a pipe) is read into a buffer that
 * grows with realloc() by at most a quarter at a time and is trimmed at
 * the end, so that free(e[0].name) stays its release; the compressed data
 * itself is streamed, never held whole. The record array has one record
 * per line that starts with "@" or ">".
 * Quality values may run over several lines; a line starting with "@" ends
 * them only once the entry has as many values as bases, so "@" (value 31)
 * as a first quality letter is read as quality. The price: an entry whose
 * quality is really too short reads on into the lines of the entry after
 * it, and both are lost (the first with the warning).
 * Dropped entries print "Warning: %-20.20s (%ld) has %d bases and %d quals,
 * skipping entry" (name, name length, bases, values) on standard output.
 * On success stores the number of accepted entries in *count and their
 * bases in *base_total and returns the array, of which the first *count
 * records are the entries (spare records are zero). The caller owns the
 * array and the buffer; release both with
 *   free(e[0].name); free(e);
 * which is also right when *count is 0 (e[0].name is then NULL and the
 * buffer was already released).
 * Returns NULL, with *count and *base_total not written and nothing left
 * allocated, after printing on standard output:
 *   "error decodeFastq: %s not found"        the file cannot be opened,
 *                                            or the path is a directory
 *   "error decodeFastq: no data in %s"       the text is empty
 *   "error decodeFastq: no segments found"   no line starts with "@" or ">"
 *   "error decodeFastq: malloc error"        no entry buffer, or it could
 *                                            not grow
 *   "error decodeFastq: %s is too small"     a regular file ended before
 *                                            its size
 *   "error decodeFastq: %s: %s"              a read failed (the system's
 *       reason), or the compressed data does not decompress: "compressed
 *       data is corrupt" (bad data or checksum), "... is truncated" (the
 *       text ends inside a stream), "... is followed by bytes that are not
 *       gzip" (or zstd, xz, bzip2: what follows a stream is neither another
 *       stream nor allowed padding)
 *   "error decodeFastq: %s is %s-compressed; this build reads %s text"
 *       the format is one this build has no library for, e.g. "reads.fq.zst
 *       is zstd-compressed; this build reads plain and gzip text"
 *   "error decodeFastq: %s: BAM data: read it with the streaming reader"
 *       the text is BAM data (it starts with "BAM\1"), compressed or not
 *   "error decodeFastq: calloc error"        no record array */
SeqEntry *decodeFastq2(const char *path, int32_t *count, int64_t *base_total, int32_t threshold);

/* Read the file at `path` into the caller's buffer, check its line layout
 * and return the number of segments, to size the record array for
 * decodeFastq(). The buffer must hold at least file size + 1 bytes; its
 * first clear_len bytes are zeroed first, then it receives the file and a
 * closing zero byte. Nothing is allocated or released. The count is every
 * "@" and ">" of each header line, so it can exceed the number of entries.
 * Returns the count, or 0. Messages (standard output unless stated):
 *   "error: file not found"                        -> 0 (also a directory)
 *   "error: no data in file"                       -> 0 (empty file)
 *   "error: file size unknown (not a seekable file)" -> 0 (a pipe)
 *   "error: %s is %s-compressed; decodeFastq2 reads compressed files" -> 0
 *     (a gzip, zstd, xz or bzip2 file, e.g. "reads.fq.zst is
 *     zstd-compressed; ...", whose text cannot be known to fit the buffer;
 *     nothing is written to the buffer), or where this build cannot read
 *     the format at all "error: %s is %s-compressed; this build reads %s
 *     text" (e.g. "plain and gzip")
 *   "error: file is too small"                     -> 0 (short read)
 *   "error: %s: BAM data: read it with the streaming reader" -> 0 (BAM
 *     data, compressed or not; a plain one is in the buffer by then)
 *   "Corrupt input file %s *dp=>%c< [1]." on standard error when the first
 *     byte is neither "@" nor ">" (the call goes on)
 *   "Corrupt input file [2]." / "[3]." when the file ends with the line
 *     feed of a header / "+" line (the count is still returned)
 *   "error: no segments found"                     -> 0 */
int32_t extractFastq(const char *path, char *buffer, uint64_t clear_len);

/* Decode the file at `path` into the caller's buffer (at least file size +
 * 1 bytes; its first clear_len bytes are zeroed first) and record array (at
 * least extractFastq()'s count of records; never more are filled). The
 * first byte of the file decides for every entry: ">" makes all entries
 * FASTA (quals NULL, is_fasta 1), anything else FASTQ. Reads exactly one
 * quality line per entry: qualities wrapped over several lines are one
 * line short and such entries are dropped with the warning. Fills name,
 * comment, length, bases, quals and is_fasta of the first *count records
 * (aux and aux_text keep what the caller put there); an entry without a
 * "+" line (0 bases) gets quals at the buffer's first byte. Stores the
 * number of filled records in *count and the sum of their lengths in
 * *base_total, and returns `records`. The records point into the buffer;
 * the caller releases buffer and array as it allocated them.
 * Messages: "error: file not found", "error decodeFastq: no data in file",
 * "error: file size unknown (not a seekable file)", "error: %s is
 * %s-compressed; decodeFastq2 reads compressed files" or "error: %s is
 * %s-compressed; this build reads %s text" as for extractFastq() (the
 * buffer is not written), "error: %s: BAM data: read it with the streaming
 * reader", the path then "error: file is too small" (each
 * ends the call with *count and *base_total 0);
 * "Corrupt input file [5]." (first byte neither "@" nor ">"), "[6]." / "[7]."
 * (the file ends with the line feed of a header / "+" line), "no segments
 * found" (nothing is filled), all on standard output; on standard error,
 * for each dropped entry, "Warning: %-20.20s has %d bases and %d quals,
 * skipping entry". */
SeqEntry *decodeFastq(const char *path, int32_t *count, int64_t *base_total, char *buffer,
                      uint64_t clear_len, SeqEntry *records);

/* ======================================================================
 * Streaming reader
 *
 * Reads a FASTQ/FASTA text of any size in batches of entries, in memory
 * bounded by the batch size rather than the text's size. Put end to end,
 * the batches of a text hold exactly the entries decodeFastq2() returns
 * for it, field for field (name, comment, aux 0, aux_text NULL, length,
 * bases, quals, is_fasta), whatever the batch size and thread count, with
 * one difference: the stream reads a carriage return directly before a
 * line feed, or at the very end of the text, as part of the line end (so a
 * CRLF file reads as its LF form), where decodeFastq2() keeps it as a byte
 * of the line; elsewhere a carriage return is a byte as any other. An
 * entry that decodeFastq2() drops with its warning is dropped silently
 * and counted (fastqStreamSkipped). A batch boundary is never the end of
 * the text: what looks at the end of the text looks at its real end.
 * The stream prints nothing, ever.
 *
 * Reads what decodeFastq2() reads: plain text, every compressed format it
 * reads, pipes, FIFOs, /dev/stdin, process substitutions, and "-" for
 * standard input.
 *
 * BAM: data whose text starts with "BAM\1" (BGZF-compressed, as BAM files
 * are, or not) is read as BAM records, which the whole-file decoders
 * refuse. Each primary record with bases is one entry; secondary (0x100)
 * and supplementary (0x800) records, and records without bases, are left
 * out. `name` is the read name as stored (no /1 or /2 added); `comment` is
 * the record's tags in SAM text, a tab between two ("RG:Z:x\tNM:i:0":
 * every integer type as i, floats as %g, arrays as B:type,v,...), or NULL
 * when it has none. A record on the reverse strand (0x10) is given as it
 * was read: its bases reverse-complemented (IUPAC codes included, '=' kept)
 * and its quality values reversed. Quality values are the stored numbers;
 * a record without them (0xFF) is a FASTA entry. A record that runs past
 * its data, a negative or impossible length, a tag cut short and data that
 * ends inside the header or a record fail the stream with a reason that
 * names the record ("BAM record 7 runs past its data").
 *
 * Threads: reading and decompressing run ahead of the caller on helper
 * threads, into a few blocks that are reused. BGZF data (gzip members that
 * state their size in a BC field, as bgzip writes) is inflated on several
 * helpers at once and delivered in order; any other compressed text is
 * decompressed by one helper at a time, beside the caller's parsing. Every
 * helper ends with closeFastqStream(), also one waiting on a pipe. A
 * stream is used by one thread at a time; separate streams share nothing.
 *
 * Memory: a few blocks of 1 MiB read ahead (one more for each BGZF
 * helper) and the current batch: under 64 MiB at the default batch size,
 * plus the longest entry, whatever the text's size. Most entries are read
 * where they stand in the blocks, which are then held until the next call;
 * a batch of many blocks' text is copied out of them as it grows.
 *
 * Line feeds are found 64 bytes at a time with AVX-512BW or AVX2 where the
 * CPU has them, else by a portable scan; the environment variable
 * FAST_SIMD=portable (read at the first stream's opening) forces the
 * portable scan, FAST_SIMD=avx2 caps the choice at AVX2. The entries are
 * the same on every path.
 * ====================================================================== */

/* An open stream; opaque. */
typedef struct FastqStream FastqStream;

/* The most text of one batch when openFastqStream() is given 0. */
#define FAST_STREAM_BATCH_BYTES (1 << 20)

/* Opens `path` for reading in batches of at most batch_bytes bytes of text
 * (0: FAST_STREAM_BATCH_BYTES), with at most `threads` threads in all, the
 * caller's included: 1 reads in the calling thread, 0 as many as are useful
 * here (one helper, or for gzip data, whose BGZF blocks inflate apart, one a
 * core up to 8). Returns the stream, to
 * be closed with closeFastqStream(), or NULL with errno set: EINVAL for a
 * negative argument or a NULL path, what open(2) gives for a path that
 * cannot be opened (ENOENT, EACCES, ...), EISDIR for a directory, ENOMEM.
 * A compressed text that this build cannot read opens, and its first batch
 * fails with a reason that names the format. Opening a pipe waits for its
 * first bytes, which tell whether it is compressed.
 * A regular file with a record index beside it (path.ridx, made by
 * indexFastq()) that matches it is read, unless threads is 1, by helpers
 * that each read their own span from a split point (threads - 1 of them,
 * or for 0 one a core up to 8, at least 2; plain text, BGZF and zstd,
 * which read in order keep two cores busy, only with 8 helpers or more);
 * the batches come in order and hold exactly the entries read without the
 * index. Each span checks that the next starts where it ends; where the
 * text does not agree with the index, the text is read on in order from
 * the first entry not yet delivered, so that an index never changes what
 * is read. Memory: up to one span of about 8 MiB of text a helper, and one
 * more, besides. */
FastqStream *openFastqStream(const char *path, int64_t batch_bytes, int32_t threads);

/* Reads the next batch: stores a pointer to its entries in *entries and
 * returns their number, at least 1. Returns 0 at the end of the text and
 * -1 on a failure (fastqStreamError() says what), both final; *entries is
 * then not written. A batch holds whole entries only, as many as fit in
 * batch_bytes of text (and at most one for every 64 bytes of it, or
 * 65536); an entry longer than that comes alone, and the buffers grow for
 * it. The entries, and the text they point to, belong to the stream and
 * stay valid until the next call on it or closeFastqStream(); the caller
 * may change them in place (fastaUC) or copy them (duplicateRead).
 * A read error, and compressed data that is corrupt or cut short, return
 * -1 after the entries that came before the fault: a damaged text never
 * ends with 0. Compressed data is checked as it is decompressed and
 * against the checksum at the end of each stream (gzip member, zstd frame,
 * ...): the text of a BGZF block is handed over only once the block has
 * been checked whole, but the entries just before a fault inside a larger
 * stream may hold text that its checksum then finds wrong. */
int32_t readFastqBatch(FastqStream *stream, SeqEntry **entries);

/* Reads two streams in step, the two files of paired-end reads: returns
 * n >= 1 and stores n entries of each, entry i of the first paired with
 * entry i of the second. Names pair when their text up to the first blank
 * or tab is equal once a final "/1" or "/2" is dropped from each (so
 * "r7/1 BC:Z:AC" pairs with "r7/2\tRG:Z:1"). Returns 0 when both texts
 * end together, and -1, after delivering the pairs before the fault, when
 * one ends first, when paired names differ, or when either stream fails;
 * fastqStreamError(first) then says which file ended first, or names the
 * entry's number (from 1) and both names, or the fault of either stream.
 * Batches follow the first stream's batch size; the two streams are not to
 * be read alone in between.
 * Interleaved pairs: given the same stream twice, reads one file whose
 * mates alternate: entries 2i and 2i + 1 of the text are a pair, checked
 * by the same rule, and come as entry i of each batch (the second mates
 * in a block of the stream's own, valid as long as the batch). An odd
 * count, or mates whose names do not pair, return -1 after the pairs
 * before, fastqStreamError() saying "entry 7 ("r4") has no mate: the file
 * ends after it" or "entries 3 and 4 have unpaired names: "a/1" and
 * "b/2"". A BAM file of paired reads reads this way. */
int32_t readFastqPairBatch(FastqStream *first, FastqStream *second, SeqEntry **first_entries,
                           SeqEntry **second_entries);

/* Reads n >= 1 streams in step, as readFastqPairBatch() reads two: the
 * files of single-cell or indexed runs (R1, R2, I1, I2). Stores in
 * entries[0..n-1] a batch of each, of one count, entry i of every batch
 * a mate of entry i of the first, and returns that count; 0 when every
 * text ends together; -1 after the entries in step before a fault: a file
 * that ends first, names that do not pair with the first file's, or any
 * stream's failure, which fails them all. fastqStreamError(streams[0])
 * says which, naming the files by place ("the third file ended first,
 * after 12 entries", "entry 3 has unpaired names: "a" in the first file,
 * "b" in the fourth", "second file: compressed data is corrupt"). With
 * n == 2 this is readFastqPairBatch() of two streams. EINVAL (-1) for a
 * NULL argument, n < 1 or a stream given twice. */
int32_t readFastqBatches(FastqStream *const *streams, int32_t n, SeqEntry **entries);

/* What ended the stream with -1, in the words decodeFastq2() prints
 * ("compressed data is corrupt", "compressed data is truncated", the
 * system's text of a read error, ...); NULL before any failure. Valid until
 * the stream is closed. */
const char *fastqStreamError(const FastqStream *stream);

/* The number of entries dropped so far because their number of quality
 * values differs from their number of bases (decodeFastq2() prints a
 * warning for each). */
int64_t fastqStreamSkipped(const FastqStream *stream);

/* Ends the stream's helpers, also one blocked on a pipe, and releases all
 * it holds, its last batch included. NULL does nothing. */
void closeFastqStream(FastqStream *stream);

/* ======================================================================
 * Record index
 *
 * A small file beside a read set, PATH.ridx unless named otherwise, that
 * records split points about every `spacing` bytes of its text: places
 * where reading can start afresh (any byte of plain text; a gzip member,
 * BGZF block, zstd frame, xz or bzip2 stream; inside one gzip member, a
 * deflate block with the 32 KiB of text before it), each with the text
 * offset and the number of the first entry that starts at or after it.
 * The file also records the read set's identity (its size, modification
 * time and checksums of its first and last 64 KiB), its entry count and
 * its text's size; docs/index.md describes the format.
 *
 * Entries are numbered from 0 in the order the stream delivers them; an
 * entry the stream drops (fastqStreamSkipped) has no number. With an
 * index, a span of entries [first, end) is read after at most one
 * spacing of text read and passed over. An index that does not match its
 * file, or is damaged or truncated, is never used: reading a range with
 * it fails with a message that says why.
 * ====================================================================== */

/* An index, loaded or built; opaque. */
typedef struct FastqIndex FastqIndex;

/* The spacing of split points when indexFastq() is given 0: 4 MiB of
 * text. A point inside a gzip member keeps its window, about 10 KB
 * compressed, so the index stays under 1 % of a gzip file's size; the
 * other kinds cost 40 bytes each and come eight times as often (every
 * 512 KiB by default). */
#define FAST_INDEX_SPACING (4 << 20)

/* Reads the regular file `path` once, as the stream reads it (plain or
 * compressed), and writes its index to index_path (NULL: path with
 * ".ridx" appended) the way the writer finishes a file: beside it,
 * synced, then renamed into place, so no partial index is ever seen
 * under its name. `spacing` is the text between split points (0:
 * FAST_INDEX_SPACING); `threads` as for openFastqStream(). Returns the
 * index, to be closed with closeFastqIndex(); fastqIndexError() says
 * whether it was built: NULL, or why not (the file cannot be read, is
 * not a regular file, its text is damaged, it changed while it was read,
 * the index cannot be written). NULL only with errno EINVAL (a NULL path
 * or a negative argument) or ENOMEM. */
FastqIndex *indexFastq(const char *path, const char *index_path, int64_t spacing, int32_t threads);

/* Loads the index of the read set `path` from index_path (NULL: path with
 * ".ridx" appended) and checks it against the file. Returns the index, to
 * be closed with closeFastqIndex(); fastqIndexError() is NULL when it is
 * sound and matches the file, else says why it is not used: it is
 * missing or unreadable, not an index, of another version, damaged or
 * truncated (its checksum), or it does not match the file (another
 * size, modification time or content: stale, or another file's). NULL
 * only with errno EINVAL or ENOMEM. */
FastqIndex *loadFastqIndex(const char *path, const char *index_path);

/* Why the index cannot be used, or NULL when it can. Valid until the
 * index is closed. */
const char *fastqIndexError(const FastqIndex *index);

/* The read set's entries, its text's size in bytes, and its split
 * points' count; 0 (and -1 for the size) for an index that cannot be
 * used. */
int64_t fastqIndexEntries(const FastqIndex *index);
int64_t fastqIndexTextSize(const FastqIndex *index);
int32_t fastqIndexPoints(const FastqIndex *index);

/* Split point i (0 <= i < fastqIndexPoints()): the number of its first
 * entry in *entry and that entry's text offset in *text (either may be
 * NULL). Returns 0, or -1 for an i out of range. Point 0 is at entry 0. */
int32_t fastqIndexPoint(const FastqIndex *index, int32_t i, int64_t *entry, int64_t *text);

/* Divides the entries into at most n spans of nearly equal text that
 * start at split points: stores k + 1 entry numbers in bounds (room for
 * n + 1), from 0 up to fastqIndexEntries(), span j being
 * [bounds[j], bounds[j + 1]), and returns k, at least 1 for a read set
 * with entries, 0 for an empty one. Together the spans hold every entry
 * once. Returns -1 for n < 1, a NULL argument or an index that cannot be
 * used. */
int32_t fastqIndexSplits(const FastqIndex *index, int32_t n, int64_t *bounds);

/* Opens a stream over entries [first, end) of the indexed read set, read
 * from the last split point at or before `first`, with batch_bytes and
 * threads as for openFastqStream(). Its batches hold exactly those
 * entries of the sequential read, in order, and then it ends. Returns
 * NULL with errno set (EINVAL for first < 0, end < first or a NULL
 * index; what open(2) gives; ENOMEM). When the index cannot be used, the
 * range goes past its entries, the file no longer matches it, or the
 * text read does not agree with it (an entry is not where it records),
 * the stream opens and its first read (or the read that meets the
 * disagreement) fails with a message that says so. The index may be
 * closed once the stream is open. */
FastqStream *openFastqIndexRange(const FastqIndex *index, int64_t first, int64_t end,
                                 int64_t batch_bytes, int32_t threads);

/* openFastqIndexRange() with the index path.ridx, loaded for the call. */
FastqStream *openFastqStreamRange(const char *path, int64_t first, int64_t end, int64_t batch_bytes,
                                  int32_t threads);

/* Releases the index. NULL does nothing. */
void closeFastqIndex(FastqIndex *index);

/* ======================================================================
 * Writer
 *
 * Writes entries as FASTQ/FASTA text, plain or compressed, to a file or
 * standard output. A FASTQ entry (is_fasta 0) is written as "@" name,
 * " " comment when comment is not NULL (an empty comment keeps its blank),
 * a line feed, its bases on one line, "+" on a line, and its quality
 * values plus 33 on one line; a FASTA entry (is_fasta 1) as ">" name[ " "
 * comment], a line feed and its bases on one line, or in lines of at most
 * fasta_width bases when the writer was opened with one (quals is not
 * read). Values 0 to 93 are written as "!" to "~".
 *
 * Only what reads back. Every entry the writer accepts reads back through
 * decodeFastq2() and the streaming reader as the same entry: name, comment,
 * length, bases, quals (for FASTQ) and is_fasta. Before a batch is written
 * each of its entries is checked, and the whole batch is refused, nothing
 * of it written, when one of them
 *   - has a NULL name, or a blank or line feed in its name;
 *   - has a line feed in its comment;
 *   - has a negative length, or NULL bases (or, for FASTQ, NULL quals)
 *     with length > 0 (quals is not read for FASTA);
 *   - has a line feed or a zero byte among its bases, or "+" or ">" as its
 *     first base (the reader takes such a line for the end of the bases);
 *     for a FASTA entry written in lines of fasta_width bases, as the first
 *     base of any of its lines (base 1, fasta_width + 1, 2 * fasta_width + 1,
 *     ...): a line that starts with "+" or ">" ends the bases, while one
 *     that starts with "@" is read as bases, so "@" is written anywhere;
 *   - has the quality value -33 or -23 (written as a zero byte or a line
 *     feed), or -1 (a blank, which selects the numeric reading) among its
 *     first 20 values;
 *   - would end a line with a carriage return, which the stream reads as
 *     part of the line end: a name (with no comment) or a comment that
 *     ends in one, a line of bases whose last base is one (the last base,
 *     or the last of each line of fasta_width bases), or a last quality
 *     value of -20;
 *   - has is_fasta other than 0 or 1;
 *   - is of the other kind than the entry written before it: the reader
 *     takes the lines after a FASTQ entry's quality line for more quality
 *     up to the next "@" line, and a FASTA entry's bases run on to the next
 *     ">" or "+" line, so a file holds FASTQ entries or FASTA entries.
 * Every other entry is accepted. Of the entries decodeFastq2() returns,
 * only these can be refused: an entry of the other kind than the one
 * before it (decodeFastq2 reads such a text only with a separator line),
 * an entry whose quality was read over several lines with a blank among
 * its first 20 values, and one read from a text with carriage returns at
 * its line ends (which decodeFastq2 keeps, and the stream does not).
 * ====================================================================== */

/* An open writer; opaque. */
typedef struct FastqWriter FastqWriter;

#define FAST_WRITE_AUTO 0  /* by the path: ".gz" or ".bgz" BGZF, ".zst" zstd, else plain */
#define FAST_WRITE_PLAIN 1 /* plain text */
#define FAST_WRITE_BGZF 2  /* BGZF: gzip members of at most 65280 bytes of text each */
#define FAST_WRITE_ZSTD 3  /* zstd frames with checksums: one, or one a split point (an index) */

/* Bits of FastqWriterOptions.flags. Any other bit gives EINVAL. */
#define FAST_WRITE_NO_SYNC 1 /* leave out the fdatasync before the file is put in place */
#define FAST_WRITE_INDEX 2   /* write the file's record index too, PATH.ridx */

/* How to open a writer, for openFastqWriterWith(). Set every field to zero, then `size` to
 * sizeof(FastqWriterOptions), and only the fields wanted: zero is each field's default, the
 * same as openFastqWriter()'s with 0 for the format, level and threads. `size` lets later
 * versions add fields at the end: a caller built against an older header passes a smaller
 * size and gets the defaults of the fields it does not know.
 *   format, level, threads: as openFastqWriter()'s.
 *   flags: FAST_WRITE_NO_SYNC gives up the fdatasync that finishFastqWriter() does before it
 *     puts a file in place. The file is still put in place only after every byte of it was
 *     written and every write checked, so a failed or killed process leaves no partial file;
 *     what is given up is surviving a crash of the machine (a power loss, a kernel panic):
 *     after one, a file finished shortly before may be empty or partial under its name, or
 *     the old file may be back. Meant for intermediate files, which a crash makes redone
 *     anyway; a pipe, a device and standard output are never synced.
 *   fasta_width: the most bases on a line of a FASTA entry; 0 writes each entry's bases on
 *     one line. Both decoders and the stream join the lines again. FASTQ entries are always
 *     written on four lines.
 *   FAST_WRITE_INDEX: the writer records the file's split points as it writes and, in
 *     finishFastqWriter(), writes its record index (see indexFastq()) to PATH.ridx, put in place
 *     together with the file as finishFastqWriters() puts several files: both are written and
 *     synced before either is renamed into place. It is the index indexFastq() would build,
 *     but for where the split points fall: at the start of a run of BGZF blocks or of plain
 *     text about every index_spacing / 8 bytes of text; for zstd the writer ends its frame and
 *     starts another about every 4 * index_spacing bytes, so that the file splits there
 *     (which costs some compression where reads repeat within a few MiB). Only a file put in
 *     place has an index: with the flag, "-", a pipe or a device gives EINVAL.
 *   index_spacing: as indexFastq()'s spacing; 0 is FAST_INDEX_SPACING. Negative gives EINVAL. */
typedef struct FastqWriterOptions {
    int32_t size;          /* sizeof(FastqWriterOptions), so that later versions can add fields */
    int32_t format;        /* FAST_WRITE_AUTO, FAST_WRITE_PLAIN, FAST_WRITE_BGZF, FAST_WRITE_ZSTD */
    int32_t level;         /* as openFastqWriter */
    int32_t threads;       /* as openFastqWriter */
    int32_t flags;         /* FAST_WRITE_NO_SYNC, FAST_WRITE_INDEX */
    int32_t fasta_width;   /* bases per line of FASTA entries; 0: all on one line */
    int64_t index_spacing; /* with FAST_WRITE_INDEX: text between split points; 0: the default */
} FastqWriterOptions;

/* Opens a writer of entries to `path`, a file name or "-" for standard output, in `format`
 * (FAST_WRITE_AUTO: by the name's ending; "-" is then plain) at `level` with at most
 * `threads` threads in all, the caller's included.
 *   level: 0 picks the format's default, the fast level an intermediate file of a pipeline
 *     wants: 1 for BGZF (the fastest, and its output within a few per cent of the next levels'
 *     on reads), 3 for zstd (faster than its level 1 on reads and several times smaller, as its
 *     longer window finds repeated reads). BGZF takes 1 to 9, with gzip's meaning: 1 to 3
 *     through ISA-L where the library was built with it, the others through zlib. zstd takes
 *     1 to 19. Plain text takes only 0.
 *   threads: 1 writes in the calling thread; 0 as many as help: for BGZF, whose blocks are
 *     compressed apart, one compressing helper a core (up to 8) and one that writes; for zstd,
 *     one helper that feeds libzstd with a worker a core and one that writes; for plain text
 *     one that writes. N > 1 asks for N - 1 compressing helpers for BGZF and N - 1 libzstd
 *     workers for zstd.
 * A regular file (or a name that does not exist yet) is written to a new file in the same
 * folder, created as open(2) with mode 0666 would create it, and put in place by
 * finishFastqWriter(): until then a file already there stays as it was, and a link to a file
 * keeps its link, the file it names being replaced. On Linux the new file has no name until
 * then (O_TMPFILE), so that a process killed at any moment before leaves nothing in the
 * folder: it is linked onto the name when nothing is there, else to a name of its own beside
 * it, ".NAME.XXXXXXXX.part", and renamed onto the name at once, which leaves that file behind
 * only when the process dies between the two calls. Where the file system refuses unnamed
 * files (or /proc is not there to link one), the file is written under that name of its own
 * from the start, and a killed process leaves it behind.
 * Standard output, a pipe, a FIFO or a device is written directly: there is nothing to
 * rename. xz and bzip2 are not written (their names, ".xz" and ".bz2", give EINVAL with
 * FAST_WRITE_AUTO): they are archive formats, too slow to write in a pipeline; nor is zstd
 * by a library built without libzstd.
 * Returns the writer, to be closed with closeFastqWriter(), or NULL with errno set: EINVAL
 * for a NULL path, an unknown format, a format this library does not write, a level the
 * format does not take or a negative thread count; EISDIR for a folder; ENOENT, EACCES,
 * EROFS, ... when the file (or the one beside it) cannot be created, EACCES also for an
 * existing file that cannot be written; ENOMEM. The writer prints nothing, ever, and leaves
 * SIGPIPE to the caller, as the C library does. */
FastqWriter *openFastqWriter(const char *path, int32_t format, int32_t level, int32_t threads);

/* openFastqWriter() with options (see FastqWriterOptions); NULL options are the defaults.
 * Returns NULL with errno set as openFastqWriter(), and EINVAL also for a size other than the
 * two versions' (24 bytes, without index_spacing, and 32) that is smaller than 32, a larger size
 * whose bytes past the fields known here are not all zero, an unknown flag, a negative fasta_width
 * or index_spacing, or FAST_WRITE_INDEX for an output that is not a file put in place. */
FastqWriter *openFastqWriterWith(const char *path, const FastqWriterOptions *options);

/* Writes the `count` entries at `entries` in their order, each in its own kind (see above).
 * The batch is checked whole first: when one of its entries would not read back, nothing of
 * the batch is written and the writer fails, fastqWriterError() naming the entry's number
 * (counted from 1 over the writer's life), its name and what is wrong, as in
 *   entry 7 ("r7/1") cannot be written: its name holds a blank
 * Returns 0, or -1 on a failure, which is final for the writer: a refusal, a negative count
 * or NULL entries (with a count), or a failure of the output (memory, a write: see
 * fastqWriterError()), which a helper thread may meet and which is then reported by the next
 * call, and at the latest by finishFastqWriter(). Once it returns, the caller may change,
 * reuse or free the entries. A FASTQ entry of no bases may have NULL quals. The bytes written
 * depend only on the entries, the format and the level: not on how the entries were cut into
 * batches, nor, for plain text and BGZF, on the thread count. A zstd frame is the same for
 * every cut into batches and for every thread count above 1; with one thread, libzstd
 * compresses in the caller's thread and may cut its blocks elsewhere. */
int32_t writeFastqBatch(FastqWriter *writer, const SeqEntry *entries, int32_t count);

/* Writes `count` entries to each of two writers, the two files of paired-end reads: entry i of
 * first_entries to `first` beside entry i of second_entries to `second`. Each pair's names are
 * checked with the reader's rule (readFastqPairBatch()): their text up to the first blank or
 * tab is equal once a final "/1" or "/2" is dropped from each. Both batches are checked whole
 * before anything is written. A pair that does not match fails both writers, the first's
 * error being
 *   entry N has unpaired names: "a/1" in the first file, "b/2" in the second
 * and any failure of either writer (a refusal, an output failure, one before this call)
 * fails the other too ("first file: ..." or "second file: ..."), so that paired files end
 * with the same entries, or neither is kept; finish them with finishFastqWriters(), so that a
 * failure at the end of one keeps the other out too. Returns 0 or -1, as writeFastqBatch().
 * Interleaved pairs: given the same writer twice, writes each pair's mates in turn into its one
 * file (entries 2i and 2i + 1), as readFastqPairBatch() reads them back from one stream given
 * twice; mates that do not pair fail it with "entries 3 and 4 have unpaired names: "a/1" and
 * "b/2"". */
int32_t writeFastqPairBatch(FastqWriter *first, FastqWriter *second, const SeqEntry *first_entries,
                            const SeqEntry *second_entries, int32_t count);

/* Writes `count` entries to each of n >= 1 distinct writers, entry i of entries[k] to
 * writers[k], as writeFastqPairBatch() writes two: the files of single-cell or indexed runs.
 * Every name is checked against the first file's with the pair rule ("entry 3 has unpaired
 * names: "a" in the first file, "b" in the third"), every batch is checked whole before
 * anything is written, and any writer's failure fails them all ("third file: ..."). Returns
 * 0 or -1; EINVAL for a NULL argument, n < 1 or a writer given twice. Finish them together
 * with finishFastqWriters(). */
int32_t writeFastqBatches(FastqWriter *const *writers, int32_t n, const SeqEntry *const *entries,
                          int32_t count);

/* Does all the work that remains: writes the text still buffered and the format's end (the
 * empty BGZF block that ends the file, the end of the zstd frame), waits for the helpers,
 * then for a file to put in place syncs it (fdatasync, unless FAST_WRITE_NO_SYNC), closes it
 * and puts it in place under the name (see openFastqWriter()); other outputs are closed
 * (standard output is left open). Every write, the sync, the link, the close and the rename
 * are checked. Returns 0 only when all of that succeeded; -1 after any failure, before or now,
 * when the file is not put in place. Later calls return the same. */
int32_t finishFastqWriter(FastqWriter *writer);

/* Finishes `count` writers together, the files of paired-end reads or any set of files that
 * is only of use whole: every file is ended, written, synced and closed before any is put in
 * place, so that when one of them fails there (a full disk, a file size limit, a failed sync,
 * an earlier failure of the writer) none is put in place; the others then fail too ("file N:
 * ..." with the number from 1 of the one that failed). Unnamed files are all given their
 * names of their own beside their final ones first, then renamed: a process killed in
 * between, a few system calls, leaves those behind. Writers already finished count as put
 * in place. Returns 0 when every file is in place, else -1; EINVAL for NULL writers (with a
 * count), a NULL writer among them, a negative count or a writer given twice. What it cannot
 * undo: the files are put in place one after the other, by a rename (or link) each, so a file
 * system that fails the rename of a later file, having done the earlier ones (a disk that
 * goes read-only or away in between, a quota met by the link), leaves the earlier files in
 * place and the later ones not; the call then returns -1 and fastqWriterError() of each writer
 * not in place says why. */
int32_t finishFastqWriters(FastqWriter **writers, int32_t count);

/* What failed the writer: the refusal of an entry, an unpaired name, or the system's words for
 * an output failure ("No space left on device", "File too large", "Broken pipe", "Cannot
 * allocate memory", ...); NULL before any failure. Valid until the writer is closed. */
const char *fastqWriterError(const FastqWriter *writer);

/* Ends the writer's helpers and releases everything it holds. When finishFastqWriter() did
 * not succeed (it failed, or was never called), the file written beside the name is removed,
 * so a file that was at the name is as it was. NULL does nothing. */
void closeFastqWriter(FastqWriter *writer);

/* ======================================================================
 * Matrices with arbitrary index bounds
 * ====================================================================== */

/*
 * A zero-filled matrix m indexed m[i][j] for rl <= i <= rh, cl <= j <= ch:
 * cmatrix of bytes, imatrix of signed 32-bit integers. A row table of
 * rh - rl + 1 row pointers and one element block of
 * (rh - rl + 1) * (ch - cl + 1) elements, the rows following each other
 * without gaps, so &m[rl][cl] walks the whole matrix as one array.
 * Release with  free(&m[rl][cl]); free(&m[rl]);  (the block, then the table).
 * gcc 12 may warn (-Wfree-nonheap-object) on those calls when rl or cl is
 * not 0, since it cannot see that the shifted pointers lead back to the
 * blocks that were allocated; the release is correct all the same.
 * Returns NULL, having kept nothing allocated:
 *  - without a message when rh < rl or ch < cl, or when the bounds lie so
 *    far from 0 that the shifted row or column origin would fall outside
 *    the address space;
 *  - after "error cmatrix: calloc error No. 1 " ("error imatrix: ..." for
 *    imatrix; a line on standard output) when the row table cannot be had,
 *    its byte count included (more than PTRDIFF_MAX bytes, or 2^64 rows);
 *  - after "error cmatrix: calloc error No. 2 " ("error imatrix: ...") when
 *    the element block cannot be had, its element or byte count included.
 */
char **cmatrix(int64_t rl, int64_t rh, int64_t cl, int64_t ch);
int32_t **imatrix(int64_t rl, int64_t rh, int64_t cl, int64_t ch);

/* ======================================================================
 * Sorts (in place; companion arrays receive exactly the key's moves)
 * ====================================================================== */

/*
 * n is the count of elements 0 .. n - 1; n <= 1 returns at once without
 * touching any array (which may then be NULL). Nothing is allocated or
 * printed, nothing of the arrays past element n - 1 is touched, and every
 * count up to INT32_MAX is sorted.
 *
 * ArraySort_Int and ArraySort_Long, the members without companions,
 * promise the keys in non-decreasing order and nothing else: equal
 * integers cannot be told apart, so the moves that sort them are left
 * open and may differ between versions and processors, while the array
 * they leave is the same, bit for bit. (They use an in-place radix sort
 * and under 8 KiB of stack.)
 *
 * The members with companions share one non-recursive quicksort: a range
 * of at most seven elements is finished by straight insertion; a longer
 * one is partitioned around the median of key[lower], key[(lower + upper)
 * / 2] (first exchanged with key[lower + 1]) and key[upper], the larger
 * part (the upper one on equal sizes) waits on a stack inside the call and
 * the smaller is taken next. The exchanges and their order are fixed, so
 * the final order of equal keys, and with it the order of their
 * companions, is deterministic: always the same for the same input, on
 * every processor, but neither their input order nor that of their
 * companions. Companion arrays (b, c: n signed 32-bit values each) never
 * take part in a comparison and are rearranged by the same permutation as
 * the keys, so the values at one index stay together. The pending-range
 * stack holds 32 ranges and no int32 count can need more than 28.
 */

/* Signed 32-bit keys, non-decreasing: the sorted array only. */
void ArraySort_Int(int32_t n, int32_t *key);
/* Signed 64-bit keys, non-decreasing: the sorted array only. */
void ArraySort_Long(int32_t n, int64_t *key);
/* Signed 32-bit keys with one companion, non-decreasing. */
void ArraySort_Int2(int32_t n, int32_t *key, int32_t *b);
/* Signed 32-bit keys with one companion, non-increasing: the same steps
 * with every comparison turned round. */
void ArraySort2_Int2(int32_t n, int32_t *key, int32_t *b);
/* Signed 64-bit keys with one companion, non-decreasing. */
void ArraySort_Mix(int32_t n, int64_t *key, int32_t *b);
/* Signed 64-bit keys with two companions, non-decreasing. */
void ArraySort_Mix3(int32_t n, int64_t *key, int32_t *b, int32_t *c);

/*
 * Zero-terminated strings, non-decreasing by unsigned byte comparison (as
 * strcmp: no locale, a proper prefix first), with one companion. strings[k]
 * points to a writable slot of the caller's; the pointers never change:
 * strings are moved by copying their bytes up to and including the zero,
 * leaving the rest of each slot as it was, so every slot must hold the
 * longest string of the array. Strings of any length are sorted alike and
 * nothing is allocated: a string of up to 63 characters taken as the pivot
 * is copied into a 64-byte buffer inside the call; a longer one is kept in
 * its slot and moved by exchanges, after which bytes past the zero of some
 * slots may differ from what plain copies would leave (never the strings).
 */
void ArraySort_String(int32_t n, char **strings, int32_t *b);

/* Exchange the strings of slots i and j: each slot receives the other's
 * string with its zero and keeps its bytes after that. Any length; i == j
 * leaves the slot unchanged. Each slot must hold the longer string. */
void s_swap(char **strings, int32_t i, int32_t j);

#if defined(__GNUC__)
#pragma GCC visibility pop
#endif

#ifdef __cplusplus
}
#endif

#endif /* FAST_H */
