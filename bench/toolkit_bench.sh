#!/usr/bin/env bash
# Whole-file decoding beside the tools a user would otherwise reach for, in one run with the
# commands taking turns (the machine is shared, so rounds alternate and the best of each is kept):
#   - the floor: fread into a fresh buffer and one memchr pass;
#   - decodeFastq2, extractFastq then decodeFastq, and `seqtk fqchk -q 20` on the plain file;
#   - decodeFastq2 on its gzip -6 copy beside `zcat > /dev/null` and `igzip -dc > /dev/null`;
#   - decodeFastq2 on its zstd copy (`zstd -T2`, one frame) beside `zstd -dc > /dev/null`;
#   - decodeFastq2 reading the plain file through a pipe.
# xz and bzip2 copies are left out: compressing 1 GiB takes minutes, and each decodes at a few
# tens of MB/s, their libraries' speed, whoever calls them.
# It installs the peers it compares with when they are missing (Debian packages seqtk, isal,
# pigz, zstd, time). FAST_BENCH_MB sets the file size (default 1024), ROUNDS the rounds
# (default 3).
#   bench/toolkit_bench.sh [build-dir]
set -euo pipefail
build=${1:-${FAST_BUILD_DIR:-build-bench}}
bin=$build/bin
mb=${FAST_BENCH_MB:-1024}
rounds=${ROUNDS:-3}

. "$(dirname "$0")/common.sh"
peers seqtk:seqtk igzip:isal pigz:pigz zstd:zstd /usr/bin/time:time

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fq=$work/reads.fq
"$bin/toolkit_run" gen "$mb" > "$fq"
# pigz -6 writes one gzip member, as gzip -6 does, in a fraction of the time.
pigz -6 -c "$fq" > "$fq.gz"
zstd -q -T2 -c "$fq" > "$fq.zst"
bytes=$(stat -c %s "$fq")
cat "$fq" "$fq.gz" "$fq.zst" > /dev/null
echo "FASTQ: $bytes bytes; gzip -6 copy: $(stat -c %s "$fq.gz") bytes;" \
     "zstd copy: $(stat -c %s "$fq.zst") bytes"

names=(floor decodeFastq2 extract+decode "seqtk fqchk" "decodeFastq2 .gz" "zcat" "igzip -dc"
       "decodeFastq2 pipe" "decodeFastq2 .zst" "zstd -dc")
commands=(
    "$bin/toolkit_run floor $fq"
    "$bin/toolkit_run decode2 $fq"
    "$bin/toolkit_run pair $fq"
    "seqtk fqchk -q 20 $fq"
    "$bin/toolkit_run decode2 $fq.gz"
    "zcat $fq.gz"
    "igzip -dc $fq.gz"
    "cat $fq | $bin/toolkit_run decode2 /dev/stdin"
    "$bin/toolkit_run decode2 $fq.zst"
    "zstd -qdc $fq.zst"
)
declare -A best peak
measure
# The plain file, the .gz and the pipe must decode alike.
cmp -s "$work/out.1" "$work/out.4" || { echo "decodeFastq2 differs on the .gz" >&2; exit 1; }
cmp -s "$work/out.1" "$work/out.7" || { echo "decodeFastq2 differs through a pipe" >&2; exit 1; }
cmp -s "$work/out.1" "$work/out.8" || { echo "decodeFastq2 differs on the .zst" >&2; exit 1; }

printf '%-20s %8s %10s %12s %s\n' tool seconds "MB/s" "peak RSS MB" ratio
for i in "${!commands[@]}"; do
    awk -v n="${names[$i]}" -v s="${best[$i]}" -v b="$bytes" -v r="${peak[$i]}" -v f="${best[0]}" \
        -v d="${best[1]}" -v i="$i" 'BEGIN {
            note = i == 0 ? "" : sprintf("%.2fx the floor", s / f)
            if (i == 3) note = note sprintf(", decodeFastq2 %.2fx its time", d / s)
            printf "%-20s %8.2f %10.0f %12.0f %s\n", n, s, b / 1e6 / (s > 0 ? s : 0.001), r / 1024, note }'
done
awk -v g="${best[4]}" -v z="${best[5]}" -v i="${best[6]}" 'BEGIN {
    printf "decodeFastq2 on the .gz: %.2fx zcat, %.2fx igzip -dc\n", g / z, g / i }'
awk -v s="${best[8]}" -v p="${best[1]}" -v d="${best[9]}" 'BEGIN {
    printf "decodeFastq2 on the .zst: %.2fx its time on the plain file, %.2fx zstd -dc\n", s / p, s / d }'
