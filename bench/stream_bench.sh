#!/usr/bin/env bash
# The streaming reader beside the readers a user would otherwise reach for, on a plain FASTQ, its
# gzip -6 copy (one member) and its BGZF copy, in one run with the commands taking turns (the
# machine is shared, so rounds alternate and the best time of each is kept; peak RSS is the
# largest seen):
#   - the stream's read loop at its default batch size and threads (bin/stream_count), and on
#     the plain file also on one thread and with the portable line scan (FAST_SIMD=portable);
#   - the kseq loop over zlib's gzread, as the classic fqcnt counts (bin/kseq_count, built where
#     htslib/kseq.h was found; its rows are skipped with a message otherwise);
#   - igzip -dc > /dev/null on both compressed copies;
#   - decodeFastq2 on each file, for reference.
# Every reader must find the same entries and bases, or the run fails. The ratios are printed
# with their targets, and the parse's speed alone: the text's bytes over the CPU seconds of the
# stream's calling thread (helpers read ahead of it), in GB/s a core. STREAM_BENCH picks the parts, any of:
#   table    the comparison above (the default);
#   sweep    the stream alone at batch sizes of 256 KiB, 1, 4 and 16 MiB and 1, 2 and the
#            default number of threads (0), on each file; SWEEP_BATCHES and SWEEP_THREADS
#            take other lists of bytes and threads;
#   bam      the stream on the reads as unaligned BAM (samtools import) beside their BGZF copy;
#   hugetlb  decodeFastq2 on the plain and gzip -6 files, the stream on the plain one, and
#            the steps of decoding, three passes over the records in a scattered order and
#            freeing them, with and without GLIBC_TUNABLES=glibc.malloc.hugetlb=1.
# It installs what it compares with when missing (Debian packages isal, tabix, pigz, libhts-dev,
# zlib1g-dev, time), and then builds bin/kseq_count in the build tree if it was not built.
# FAST_BENCH_MB sets the file size (default 1024), ROUNDS the rounds (default 3); the files are
# written to a scratch folder, or kept in and taken again from FAST_BENCH_DATA when it is set.
#   STREAM_BENCH="table sweep hugetlb" bench/stream_bench.sh [build-dir]
set -euo pipefail
. "$(dirname "$0")/common.sh"
build=${1:-${FAST_BUILD_DIR:-build-bench}}
bin=$build/bin
mb=${FAST_BENCH_MB:-1024}
rounds=${ROUNDS:-3}
parts=" ${STREAM_BENCH:-table} "

need=()
command -v igzip >/dev/null || need+=(isal)
command -v bgzip >/dev/null || need+=(tabix)
command -v pigz >/dev/null || need+=(pigz)
[ -x /usr/bin/time ] || need+=(time)
# has_header NAME: the C compiler finds the header.
has_header() { echo "#include <$1>" | "${CC:-cc}" -E -x c - >/dev/null 2>&1; }
has_header htslib/kseq.h || need+=(libhts-dev)
has_header zlib.h || need+=(zlib1g-dev)
if [ ${#need[@]} -gt 0 ]; then
    echo "installing the peers: ${need[*]}"
    apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null ||
        { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${need[@]}"; }
fi
if [ ! -x "$bin/kseq_count" ]; then
    # Configured before the header was there: look again.
    { cmake "$build" && cmake --build "$build" --target kseq_count; } >/dev/null 2>&1 || true
fi
kseq=1
if [ ! -x "$bin/kseq_count" ]; then
    echo "no $bin/kseq_count (htslib/kseq.h or zlib missing): the kseq rows are skipped"
    kseq=0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=${FAST_BENCH_DATA:-$work}
mkdir -p "$data"
readsFiles bgzf
bytes=$(stat -c %s "$fq")
echo "FASTQ: $bytes bytes; gzip -6 copy: $(stat -c %s "$gz") bytes; BGZF copy: $(stat -c %s "$bgzf") bytes"
echo "transparent huge pages: $(cat /sys/kernel/mm/transparent_hugepage/enabled 2>/dev/null || echo unknown)"

declare -A best peak

# row I: one line of the table.
row() {
    awk -v n="${names[$1]}" -v s="${best[$1]}" -v b="$bytes" -v r="${peak[$1]}" 'BEGIN {
        printf "%-26s %8.2f %8.0f %10.1f\n", n, s, b / 1e6 / (s > 0 ? s : 0.001), r / 1024 }'
}

# target WHAT A B LIMIT: the ratio of times A / B against its target.
target() {
    awk -v w="$1" -v a="${best[$2]}" -v b="${best[$3]}" -v l="$4" 'BEGIN {
        q = a / (b > 0 ? b : 0.001)
        printf "%-42s %6.2f  target <= %-5s %s\n", w, q, l, q <= l ? "met" : "NOT MET" }'
}

# counts I: "entries N, bases B" of command I, also from decodeFastq2's summary line.
counts() {
    sed -n -e 's/^entries \([0-9]*\), bases \([0-9]*\)$/entries \1, bases \2/p' \
        -e 's/.*total bases = \([0-9]*\),.* segments = \([0-9]*\)$/entries \2, bases \1/p' \
        "$work/out.$1"
}


if [[ $parts == *" table "* ]]; then
    names=()
    commands=()
    at=()
    for f in plain gz bgzf; do
        readsFile "$f"
        add "stream $f" "stream, $label" "$bin/stream_count $path"
        if [ $f = plain ]; then
            add "stream plain 1" "stream, $label, threads 1" "$bin/stream_count $path 0 1"
            add "stream plain portable" "stream, $label, portable" \
                "FAST_SIMD=portable $bin/stream_count $path"
        fi
        [ $kseq = 0 ] || add "kseq $f" "kseq, $label" "$bin/kseq_count $path"
        [ $f = plain ] || add "igzip $f" "igzip -dc, $label" "igzip -dc $path > /dev/null"
        add "decode $f" "decodeFastq2, $label" "$bin/toolkit_run decode2 $path"
    done
    measure
    # Every reader of every copy must see the same entries and bases.
    want=$(counts "${at[stream plain]}")
    [ -n "$want" ] || { echo "the stream printed no counts" >&2; exit 1; }
    for key in "${!at[@]}"; do
        [[ $key == igzip* ]] && continue
        got=$(counts "${at[$key]}")
        if [ "$got" != "$want" ]; then
            echo "COUNTS DIFFER: ${names[${at[$key]}]} found '$got'," \
                 "the stream on the plain file '$want'" >&2
            exit 1
        fi
    done
    echo "every reader found $want"
    printf '%-26s %8s %8s %10s\n' "reader, file" seconds "MB/s" "peak RSS MB"
    for i in "${!commands[@]}"; do row "$i"; done
    echo "(MB/s of the FASTQ text; ratios are of times)"
    if [ $kseq = 1 ]; then
        target "plain: stream / kseq" "${at[stream plain]}" "${at[kseq plain]}" 0.35
        target "plain, threads 1: stream / kseq" "${at[stream plain 1]}" "${at[kseq plain]}" 0.5
    fi
    # The portable scan's target is against the stream before the vector scan, which is not
    # built here: the ratio to the vector scan is an upper bound of it.
    awk -v a="${best[${at[stream plain portable]}]}" -v b="${best[${at[stream plain]}]}" 'BEGIN {
        printf "%-42s %6.2f  (to the vector scan)\n", "plain: portable scan / vector scan",
               a / (b > 0 ? b : 0.001) }'
    for key in "stream plain" "stream plain portable" "stream gz" "stream bgzf"; do
        awk -v n="${names[${at[$key]}]}" -v b="$bytes" '$1 == "parse" && (!s || $2 < s) { s = $2 }
            END { printf "%-42s %6.2f GB/s a core, the parse alone (%.3f CPU s)\n", n,
                         b / 1e9 / (s > 0 ? s : 0.001), s }' "$work/all.${at[$key]}"
    done
    target "gzip -6: stream / igzip -dc" "${at[stream gz]}" "${at[igzip gz]}" 1.15
    if [ $kseq = 1 ]; then
        target "gzip -6: stream / kseq" "${at[stream gz]}" "${at[kseq gz]}" 0.5
    fi
    target "BGZF, default threads: stream / igzip -dc" "${at[stream bgzf]}" "${at[igzip bgzf]}" 0.75
    target "BGZF: decodeFastq2 / igzip -dc" "${at[decode bgzf]}" "${at[igzip bgzf]}" 1.0
    for f in plain gz bgzf; do
        i=${at[stream $f]}
        awk -v n="${names[$i]}" -v r="${peak[$i]}" 'BEGIN {
            printf "%-42s %6.1f MiB peak RSS, target < 64 MiB %s\n", n, r / 1024,
                r < 65536 ? "met" : "NOT MET" }'
    done
fi

if [[ $parts == *" sweep "* ]]; then
    read -r -a sizes <<< "${SWEEP_BATCHES:-262144 1048576 4194304 16777216}"
    read -r -a threads <<< "${SWEEP_THREADS:-1 2 0}"
    names=()
    commands=()
    for f in "$fq" "$gz" "$bgzf"; do
        for s in "${sizes[@]}"; do
            for t in "${threads[@]}"; do
                names+=("$s $t")
                commands+=("$bin/stream_count $f $s $t")
            done
        done
    done
    measure
    want=$(cat "$work/out.0")
    for i in "${!commands[@]}"; do
        cmp -s "$work/out.$i" "$work/out.0" ||
            { echo "COUNTS DIFFER: stream_count ${names[$i]}: $(cat "$work/out.$i") against $want" >&2
              exit 1; }
    done
    echo "the stream alone, by batch size and threads (0: the default), seconds / peak RSS MiB:"
    i=0
    for f in plain "gzip -6" BGZF; do
        head=$(printf '%-10s %-9s' "$f" batch)
        for t in "${threads[@]}"; do
            head+=$(printf ' %16s' "$([ "$t" = 0 ] && echo default || echo "threads=$t")")
        done
        echo "$head"
        for s in "${sizes[@]}"; do
            line=$(printf '%-10s %-9s' "" "$((s >> 10)) KiB")
            for _ in "${threads[@]}"; do
                line+=$(awk -v s="${best[$i]}" -v r="${peak[$i]}" \
                    'BEGIN { printf " %9.2f / %4.0f", s, r / 1024 }')
                i=$((i + 1))
            done
            echo "$line"
        done
    done
fi

if [[ $parts == *" hugetlb "* ]]; then
    # glibc then advises the memory it maps for transparent huge pages (madvise mode).
    huge="GLIBC_TUNABLES=glibc.malloc.hugetlb=1"
    names=()
    commands=()
    at=()
    for f in plain gz; do
        readsFile "$f"
        add "decode $f" "decodeFastq2, $label" "$bin/toolkit_run decode2 $path"
        add "decode $f huge" "decodeFastq2, $label, hugetlb=1" "$huge $bin/toolkit_run decode2 $path"
    done
    add "stream plain" "stream, plain" "$bin/stream_count $fq"
    add "stream plain huge" "stream, plain, hugetlb=1" "$huge $bin/stream_count $fq"
    add walk "decode, scattered passes, free" "$bin/toolkit_run walk $fq"
    add "walk huge" "the same, hugetlb=1" "$huge $bin/toolkit_run walk $fq"
    measure
    printf '%-34s %8s %8s %10s\n' "reader, malloc" seconds "MB/s" "peak RSS MB"
    for i in "${!commands[@]}"; do
        awk -v n="${names[$i]}" -v s="${best[$i]}" -v b="$bytes" -v r="${peak[$i]}" 'BEGIN {
            printf "%-34s %8.2f %8.0f %10.1f\n", n, s, b / 1e6 / (s > 0 ? s : 0.001), r / 1024 }'
    done
    for key in "decode plain" "decode gz" "stream plain" walk; do
        awk -v n="$key" -v a="${best[${at[$key huge]}]}" -v b="${best[${at[$key]}]}" 'BEGIN {
            printf "%s: hugetlb=1 takes %.2fx the time\n", n, a / b }'
    done
    # The steps of the walk, best of the rounds each.
    for key in walk "walk huge"; do
        awk -v n="${names[${at[$key]}]}" '{
            for (f = 1; f < NF; ++f)
                if ($f == "decode" || $f == "scattered" || $f == "release")
                    if (!($f in t) || $(f + 1) < t[$f]) t[$f] = $(f + 1) }
            END { printf "%-34s decodeFastq2 %.2f s, three scattered passes %.2f s, free %.2f s\n",
                         n, t["decode"], t["scattered"], t["release"] }' "$work/all.${at[$key]}"
    done
fi

if [[ $parts == *" bam "* ]]; then
    # The same reads as unaligned BAM (samtools import, BGZF at its default level) beside their
    # BGZF FASTQ copy, both through the stream at its defaults.
    peers samtools:samtools
    bam=$data/reads-$mb.bam
    [ -s "$bam" ] || samtools import -@ "$(nproc)" -0 "$fq" -o "$bam" 2>/dev/null
    cat "$bam" > /dev/null
    names=()
    commands=()
    at=()
    add "stream bgzf" "stream, BGZF FASTQ" "$bin/stream_count $bgzf"
    add "stream bam" "stream, unaligned BAM" "$bin/stream_count $bam"
    measure
    [ "$(counts "${at[stream bam]}")" = "$(counts "${at[stream bgzf]}")" ] ||
        { echo "COUNTS DIFFER: BAM $(counts "${at[stream bam]}")," \
               "BGZF $(counts "${at[stream bgzf]}")" >&2; exit 1; }
    echo "BAM: $(stat -c %s "$bam") bytes; both found $(counts "${at[stream bam]}")"
    printf '%-26s %8s %8s %10s\n' "reader, file" seconds "MB/s" "peak RSS MB"
    for i in "${!commands[@]}"; do row "$i"; done
    target "unaligned BAM / BGZF FASTQ, stream" "${at[stream bam]}" "${at[stream bgzf]}" 1.3
fi
