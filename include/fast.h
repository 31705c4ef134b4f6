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
#define FAST_VERSION_MINOR 1
#define FAST_VERSION_PATCH 0
#define FAST_VERSION_STRING "0.1.0"

#ifdef __cplusplus
extern "C" {
#endif

/* ======================================================================
 * Sequence entries
 * ====================================================================== */

/*
 * One decoded FASTA or FASTQ entry (a "segment" in the messages).
 * A SeqEntry owns nothing by itself: entries filled by a decoder point into
 * that decoder's entry buffer; a copy made by duplicateRead() or
 * reverseCompliment() lives in one block that starts at its `bases`.
 */
typedef struct SeqEntry {
    char *name;      /* header text after the marker up to the name's end, zero-terminated */
    char *comment;   /* rest of the header line, zero-terminated; NULL when there was none */
    int64_t aux;     /* opaque to the library; copied by both copy operations */
    char *aux_text;  /* optional string of the caller's; never set by the decoders */
    int32_t length;  /* number of bases */
    char *bases;     /* `length` base letters, not terminated */
    int8_t *quals;   /* `length` quality values (numbers, not letters); NULL for FASTA */
    int32_t is_fasta; /* 1 for a FASTA entry, 0 for a FASTQ entry */
} SeqEntry;

/* Number of bases whose quality value is >= threshold (signed comparison).
 * A FASTA entry (is_fasta != 0) counts all `length` bases; a FASTQ entry
 * with quals == NULL, or a length <= 0, gives 0. */
int32_t countQthresh(const SeqEntry *entry, int32_t threshold);

/* Exact copy of src into dst, in one new malloc() block that starts at
 * dst->bases: bases, quality room (when src->is_fasta == 0; filled from
 * src->quals when that is not NULL), name, and aux_text when present.
 * dst->comment is not touched. Returns 0 on success; 1 when src has no
 * bases or no data bytes (nothing allocated), or when the allocation fails
 * (prints "ERROR reverseCompliment: malloc" on standard output). dst->bases
 * is NULL after any failure. Release the copy with free(dst->bases). */
int32_t duplicateRead(const SeqEntry *src, SeqEntry *dst);

/* Reverse complement of src into dst, in one new malloc() block that
 * starts at dst->bases. A<->T and C<->G are complemented; every other byte
 * (lower case, N) is kept as it is. Quality values, when src->quals is not
 * NULL, are reversed. name and aux are copied; comment and aux_text are not
 * touched. Returns 0 on success; 1 when src has no bases or no data bytes,
 * or when the allocation fails (prints "ERROR reverseCompliment: malloc").
 * Release the copy with free(dst->bases). */
int32_t reverseCompliment(const SeqEntry *src, SeqEntry *dst);

/* Upper-case (fastaUC) or lower-case (fastaLC) the bases of the first
 * `count` entries, under the current locale; nothing when count <= 0. */
void fastaUC(SeqEntry *entries, int32_t count);
void fastaLC(SeqEntry *entries, int32_t count);

/* ======================================================================
 * Decoders
 * ====================================================================== */

/* Decode a whole FASTQ/FASTA file (entries of both kinds may be mixed) into
 * a new record array over a new entry buffer, and print one summary line.
 * On success stores the number of accepted entries in *count and their
 * bases in *base_total and returns the array; release it with
 * free(e[0].name); free(e);  (also right when *count is 0).
 * Returns NULL on failure, with *count and *base_total not written. */
SeqEntry *decodeFastq2(const char *path, int32_t *count, int64_t *base_total, int32_t threshold);

/* Read the file at `path` into the caller's buffer (at least file size + 1
 * bytes; its first clear_len bytes are zeroed first), check the line
 * layout and return the number of segments, or 0. */
int32_t extractFastq(const char *path, char *buffer, uint64_t clear_len);

/* Decode the file at `path` into the caller's buffer and record array
 * (sized from extractFastq()). Stores the number of filled records in
 * *count and their bases in *base_total, and returns `records`. */
SeqEntry *decodeFastq(const char *path, int32_t *count, int64_t *base_total, char *buffer,
                      uint64_t clear_len, SeqEntry *records);

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
 * One non-recursive quicksort for every member: a range of at most seven
 * elements is finished by straight insertion; a longer one is partitioned
 * around the median of key[lower], key[(lower + upper) / 2] (first
 * exchanged with key[lower + 1]) and key[upper], the larger part (the
 * upper one on equal sizes) waits on a stack inside the call and the
 * smaller is taken next. The exchanges and their order are fixed, so the
 * final order of equal keys is deterministic: always the same for the same
 * input, but neither their input order nor the order of their companions.
 *
 * n is the count of elements 0 .. n - 1; n <= 1 returns at once without
 * touching any array (which may then be NULL). Companion arrays (b, c:
 * n signed 32-bit values each) never take part in a comparison and are
 * rearranged by the same permutation as the keys, so the values at one
 * index stay together. Nothing is allocated, nothing is printed, and every
 * count up to INT32_MAX is sorted: the pending-range stack holds 32 ranges
 * and no int32 count can need more than 28.
 */

/* Signed 32-bit keys, non-decreasing. */
void ArraySort_Int(int32_t n, int32_t *key);
/* Signed 64-bit keys, non-decreasing. */
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

#ifdef __cplusplus
}
#endif

#endif /* FAST_H */
