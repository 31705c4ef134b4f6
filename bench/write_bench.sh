#!/usr/bin/env bash
# The writer beside the tools a pipeline would otherwise pipe its reads through, in one run with
# the commands taking turns (the machine is shared, so rounds alternate and the best time of each
# is kept; peak RSS is the largest seen). The writer is timed through the copying example
# (bin/fastq_copy), which streams the reads in and writes them out, at the default level and
# threads unless a row says otherwise:
#   - plain to BGZF beside igzip -1 and bgzip -@2 -l1 (and their sizes at level 1);
#   - gzip -6 to BGZF (recompressing) beside igzip -dc | bgzip -@2 -l1;
#   - plain to zstd at level 3 beside zstd -3 -T2;
#   - plain to plain with --no-sync (FAST_WRITE_NO_SYNC) beside cat, and at the defaults beside
#     cat followed by sync -d, since the writer then syncs a file before it puts it in place.
# Every output is checked to hold the reads. The ratios are printed with their targets, and the
# zstd copy's peak RSS beside zstd -3 -T2's (the same two workers).
# It installs what it compares with when missing (Debian packages isal, tabix, pigz, zstd, time).
# FAST_BENCH_MB sets the file size (default 1024), ROUNDS the rounds (default 3); the input files
# are written to a scratch folder, or kept in and taken again from FAST_BENCH_DATA when it is set
# (the stream benchmark's files serve). Outputs go to FAST_BENCH_OUT (default: the scratch
# folder), on a disk, as a pipeline's would.
#   bench/write_bench.sh [build-dir]
set -euo pipefail
build=${1:-${FAST_BUILD_DIR:-build-bench}}
bin=$build/bin
mb=${FAST_BENCH_MB:-1024}
rounds=${ROUNDS:-3}

. "$(dirname "$0")/common.sh"
peers igzip:isal bgzip:tabix pigz:pigz zstd:zstd /usr/bin/time:time

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=${FAST_BENCH_DATA:-$work}
out=${FAST_BENCH_OUT:-$work}
mkdir -p "$data" "$out"
readsFiles
bytes=$(stat -c %s "$fq")
echo "FASTQ: $bytes bytes; gzip -6 copy: $(stat -c %s "$gz") bytes; $(nproc) cores"

declare -A best peak

add "ours bgzf" "fastq_copy, plain to BGZF" "$bin/fastq_copy $fq $out/ours.fq.gz"
add "igzip" "igzip -1" "igzip -1 -c $fq > $out/igzip.gz"
add "bgzip" "bgzip -@2 -l1" "bgzip -@2 -l1 -c $fq > $out/bgzip.gz"
add "ours regz" "fastq_copy, gzip -6 to BGZF" "$bin/fastq_copy $gz $out/ours.re.fq.gz"
add "pipe regz" "igzip -dc | bgzip -@2 -l1" "igzip -dc $gz | bgzip -@2 -l1 -c > $out/pipe.re.gz"
add "ours zstd" "fastq_copy, plain to zstd -3" "$bin/fastq_copy $fq $out/ours.fq.zst 3"
add "zstd" "zstd -3 -T2" "zstd -q -3 -T2 -c $fq > $out/zstd.zst"
add "ours nosync" "fastq_copy --no-sync, plain" "$bin/fastq_copy --no-sync $fq $out/ours.ns.fq"
add "cat" "cat" "cat $fq > $out/cat.fq"
add "ours plain" "fastq_copy, plain to plain" "$bin/fastq_copy $fq $out/ours.fq"
# The writer syncs a file before putting it in place; cat does not.
add "cat sync" "cat, then sync -d" "cat $fq > $out/cat.sync.fq && sync -d $out/cat.sync.fq"

measure

# The writer's outputs hold the reads: the plain copy is what it writes of them, and every
# compressed copy decompresses to it; the peers' outputs to the input.
want=$(md5sum < "$out/ours.fq")
cmp -s "$out/ours.fq" "$out/ours.ns.fq" || { echo "ours.ns.fq differs from ours.fq" >&2; exit 1; }
for f in ours.fq.gz ours.re.fq.gz; do
    [ "$(gzip -dc "$out/$f" | md5sum)" = "$want" ] || { echo "$f does not hold the reads" >&2; exit 1; }
done
[ "$(zstd -dc "$out/ours.fq.zst" | md5sum)" = "$want" ] ||
    { echo "ours.fq.zst does not hold the reads" >&2; exit 1; }
gzip -t "$out/igzip.gz" "$out/bgzip.gz" "$out/pipe.re.gz"

printf "\n%-30s %8s %8s %10s %12s\n" "command" "seconds" "MB/s" "peak MiB" "output MB"
sizes=("$out/ours.fq.gz" "$out/igzip.gz" "$out/bgzip.gz" "$out/ours.re.fq.gz" "$out/pipe.re.gz"
       "$out/ours.fq.zst" "$out/zstd.zst" "$out/ours.ns.fq" "$out/cat.fq" "$out/ours.fq"
       "$out/cat.sync.fq")
for i in "${!commands[@]}"; do
    awk -v n="${names[$i]}" -v s="${best[$i]}" -v b="$bytes" -v r="${peak[$i]}" \
        -v o="$(stat -c %s "${sizes[$i]}")" 'BEGIN {
        printf "%-30s %8.2f %8.0f %10.1f %12.1f\n", n, s, b / 1e6 / (s > 0 ? s : 0.001), r / 1024, o / 1e6 }'
done

# target WHAT A B LIMIT: the ratio of times A / B against its target.
target() {
    awk -v w="$1" -v a="${best[${at[$2]}]}" -v b="${best[${at[$3]}]}" -v l="$4" 'BEGIN {
        q = a / (b > 0 ? b : 0.001)
        printf "%-46s %6.2f  target <= %-5s %s\n", w, q, l, q <= l ? "met" : "NOT MET" }'
}
echo
target "plain to BGZF / igzip -1" "ours bgzf" igzip 0.65
target "plain to BGZF / bgzip -@2 -l1" "ours bgzf" bgzip 0.6
target "gzip -6 to BGZF / igzip -dc | bgzip -@2 -l1" "ours regz" "pipe regz" 0.6
target "plain to zstd -3 / zstd -3 -T2" "ours zstd" zstd 1.1
target "plain to plain, no sync / cat" "ours nosync" cat 1.25
target "plain to plain / cat, then sync -d" "ours plain" "cat sync" 1.25
awk -v a="${peak[${at["ours zstd"]}]}" -v b="${peak[${at[zstd]}]}" 'BEGIN {
    q = a / b; printf "%-46s %6.2f  target <= 1.3   %s\n", "zstd -3 peak RSS / zstd -3 -T2 peak RSS", q,
    q <= 1.3 ? "met" : "NOT MET" }'
awk -v a="$(stat -c %s "$out/ours.fq.gz")" -v b="$(stat -c %s "$out/igzip.gz")" 'BEGIN {
    q = a / b; printf "%-46s %6.3f  target <= 1.03  %s\n", "BGZF level 1 size / igzip -1 size", q,
    q <= 1.03 ? "met" : "NOT MET" }'
for key in "ours bgzf" "ours regz" "ours zstd" "ours nosync" "ours plain"; do
    awk -v n="${names[${at[$key]}]}" -v r="${peak[${at[$key]}]}" 'BEGIN {
        printf "%-46s %6.1f  target <  64 MiB %s\n", n " peak RSS", r / 1024, r < 65536 ? "met" : "NOT MET" }'
done
