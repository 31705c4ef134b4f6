#!/usr/bin/env bash
# Throughput of clean_replace beside wc -l, mawk running the same filter and a plain
# fscanf/printf loop, on one generated table with a warm page cache.
#   cmake -S . -B build-bench -DFAST_BUILD_BENCH=ON && cmake --build build-bench -j2
#   bench/command_bench.sh [build-dir] [lines]
set -euo pipefail
build=${1:-${FAST_BUILD_DIR:-build-bench}}
lines=${2:-10000000}
bin=$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
table=$work/links.txt

"$bin/command_gen" "$lines" > "$table"
bytes=$(stat -c %s "$table")
cat "$table" > /dev/null
echo "table: $lines lines, $bytes bytes"

filter_awk='NR > 1 && !($3 == g && $7 < e) { print } { g = $3; e = $8 }'

# run NAME OUTPUT COMMAND...: best wall time of three runs, and the peak RSS of the last.
run() {
    local name=$1 out=$2
    shift 2
    local best=""
    for _ in 1 2 3; do
        /usr/bin/time -f "%e %M" -o "$work/time" "$@" > "$out"
        read -r secs rss < "$work/time"
        if [ -z "$best" ] || awk -v a="$secs" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best=$secs
        fi
    done
    awk -v n="$name" -v s="$best" -v b="$bytes" -v r="$rss" \
        'BEGIN { printf "%-14s %7.2f s %9.0f MB/s  peak RSS %7.1f MB\n", n, s, b / 1e6 / (s > 0 ? s : 0.001), r / 1024 }'
    echo "$name $best" >> "$work/results"
}

run "wc -l" /dev/null wc -l "$table"
run mawk "$work/mawk.out" mawk "$filter_awk" "$table"
run fscanf/printf "$work/ref.out" "$bin/command_fscanf_ref" "$table"
run clean_replace "$work/cr.out" "$bin/clean_replace" "$table"

cmp -s "$work/cr.out" "$work/ref.out" || { echo "clean_replace and the reference differ" >&2; exit 1; }
cmp -s "$work/cr.out" "$work/mawk.out" || { echo "clean_replace and mawk differ" >&2; exit 1; }
echo "outputs identical: $(wc -l < "$work/cr.out") lines"
awk '{ t[$1 == "wc" ? "wc" : $1] = $NF }
     END { printf "clean_replace: %.1fx the fscanf/printf loop, %.1fx mawk; column arrays %.0f MB\n",
                  t["fscanf/printf"] / t["clean_replace"], t["mawk"] / t["clean_replace"], 32 * '"$lines"' / 1e6 }' \
    "$work/results"
