#!/usr/bin/env bash
# Throughput of clean_replace beside wc -l, mawk running the same filter and a plain
# fscanf/printf loop, on one generated table with a warm page cache; then on its gzip -6 copy
# beside igzip -dc piped into `clean_replace -` (the two fastest tools, one core each), runs
# alternating; then on its BGZF copy beside `clean_replace - < table`, the plain table in one
# pass (the filter's own pace), and igzip -dc alone, runs alternating. igzip and bgzip are
# Debian's packages isal and tabix: installed with apt-get when missing.
#   cmake -S . -B build-bench -DFAST_BUILD_BENCH=ON && cmake --build build-bench -j2
#   bench/command_bench.sh [build-dir] [lines]
# BASELINE=<an older clean_replace> also times that build on the plain table, in turn with this
# one, for example a release built from `git archive <commit> | tar -x -C <scratch folder>`.
set -euo pipefail
. "$(dirname "$0")/common.sh"
build=${1:-${FAST_BUILD_DIR:-build-bench}}
lines=${2:-10000000}
bin=$build/bin
baseline=${BASELINE:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
table=$work/links.txt

peers igzip:isal bgzip:tabix /usr/bin/time:time

"$bin/command_gen" "$lines" > "$table"
gzip -6 -c "$table" > "$table.gz"
bgzip -c -@ "$(nproc)" "$table" > "$table.bgz"
bytes=$(stat -c %s "$table")
cat "$table" "$table.gz" "$table.bgz" > /dev/null
echo "table: $lines lines, $bytes bytes; gzip -6: $(stat -c %s "$table.gz") bytes;" \
     "BGZF: $(stat -c %s "$table.bgz") bytes"

filter_awk='NR > 1 && !($3 == g && $7 < e) { print } { g = $3; e = $8 }'

# once NAME OUTPUT COMMAND...: one timed run; keeps NAME's best wall time and last peak RSS.
declare -A best rss
once() {
    local name=$1 out=$2 secs kb
    shift 2
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" > "$out"
    read -r secs kb < "$work/time"
    if [ -z "${best[$name]:-}" ] || awk -v a="$secs" -v b="${best[$name]}" 'BEGIN { exit !(a < b) }'; then
        best[$name]=$secs
    fi
    rss[$name]=$kb
}

# report NAME: its best time, the throughput in bytes of plain text, its peak RSS.
report() {
    awk -v n="$1" -v s="${best[$1]}" -v b="$bytes" -v r="${rss[$1]}" \
        'BEGIN { printf "%-22s %7.2f s %9.0f MB/s  peak RSS %7.1f MB\n", n, s, b / 1e6 / (s > 0 ? s : 0.001), r / 1024 }'
}

# run NAME OUTPUT COMMAND...: best of three runs in a row.
run() {
    for _ in 1 2 3; do once "$@"; done
    report "$1"
}

# ratio A B: how many times faster A ran than B (B's time over A's).
ratio() {
    awk -v a="${best[$1]}" -v b="${best[$2]}" 'BEGIN { printf "%.2f", b / (a > 0 ? a : 0.001) }'
}

same() {
    cmp -s "$work/cr.out" "$2" || { echo "clean_replace and $1 differ" >&2; exit 1; }
}

run "wc -l" /dev/null wc -l "$table"
run mawk "$work/mawk.out" mawk "$filter_awk" "$table"
run fscanf/printf "$work/ref.out" "$bin/command_fscanf_ref" "$table"
run clean_replace "$work/cr.out" "$bin/clean_replace" "$table"

same "the reference" "$work/ref.out"
same mawk "$work/mawk.out"
echo "outputs identical: $(wc -l < "$work/cr.out") lines"
awk -v ref="${best[fscanf/printf]}" -v mawk="${best[mawk]}" -v cr="${best[clean_replace]}" \
    'BEGIN { printf "clean_replace: %.1fx the fscanf/printf loop, %.1fx mawk; column arrays %.0f MB\n",
                    ref / cr, mawk / cr, 32 * '"$lines"' / 1e6 }'

# The compressed table, in turn with the pipe of the two fastest tools; igzip alone is the floor
# of inflating on one core.
echo
run "igzip -dc > /dev/null" /dev/null igzip -dc "$table.gz"
gz="clean_replace t.gz"
pipe="igzip -dc | cr -"
for _ in 1 2 3 4 5; do
    once "$gz" "$work/gz.out" "$bin/clean_replace" "$table.gz"
    once "$pipe" "$work/pipe.out" bash -c '"$1" -dc "$2" | "$3" -' _ igzip "$table.gz" \
        "$bin/clean_replace"
done
report "$gz"
report "$pipe"
same "clean_replace on the gzip copy" "$work/gz.out"
same "the igzip pipe" "$work/pipe.out"
echo "clean_replace t.gz: $(ratio "$gz" "$pipe")x the igzip pipe (MB/s of plain text; the pipe's peak RSS is its largest process)"

# The BGZF table, whose blocks inflate on every core beside the filter, in turn with the plain
# table read in one pass: inflating should hide behind filtering.
echo
bgz="clean_replace t.bgz"
one="clean_replace - < t"
alone="igzip -dc t.bgz"
for _ in 1 2 3 4 5; do
    once "$bgz" "$work/bgz.out" "$bin/clean_replace" "$table.bgz"
    once "$one" "$work/one.out" bash -c '"$1" - < "$2"' _ "$bin/clean_replace" "$table"
    once "$alone" /dev/null igzip -dc "$table.bgz"
done
report "$bgz"
report "$one"
report "$alone"
same "clean_replace on the BGZF copy" "$work/bgz.out"
same "clean_replace in one pass" "$work/one.out"
awk -v a="${best[$bgz]}" -v b="${best[$one]}" 'BEGIN { q = a / (b > 0 ? b : 0.001)
    printf "clean_replace t.bgz / the plain table in one pass: %.2f, target <= 1.1 %s\n", q,
           q <= 1.1 ? "met" : "NOT MET" }'

if [ -n "$baseline" ]; then
    echo
    for _ in 1 2 3 4 5; do
        once "baseline" "$work/base.out" "$baseline" "$table"
        once "clean_replace (again)" "$work/cr.out" "$bin/clean_replace" "$table"
    done
    report baseline
    report "clean_replace (again)"
    same "the baseline" "$work/base.out"
    echo "plain table: $(ratio "clean_replace (again)" baseline)x the baseline's throughput"
fi
