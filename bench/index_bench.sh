#!/usr/bin/env bash
# The record index beside what it is measured against, in one run with the commands taking turns
# (the machine is shared: rounds alternate and the best time of each is kept), on the plain FASTQ,
# its gzip -6 copy (one member) and its BGZF copy:
#   - building the index of the gzip -6 copy against the stream's sequential read of it;
#   - the stream with the index beside the file (its spans on helpers) against igzip -dc on the
#     compressed copies, and against the same stream without the index on the plain file (a
#     hard link of it, which has none), at the default threads and at THREADS_LIST;
#   - reading single entries through the index, the slowest of a few;
#   - the index's size against the compressed file's;
#   - the writer writing the index as it writes (bin/fastq_copy --index) against the same copy
#     without it, to BGZF and to zstd (whose frames it then ends at split points: their sizes
#     too), and the stream of that zstd copy with its index against zstd -dc.
# Every stream must count the same entries and bases. FAST_BENCH_MB sets the size (default
# 1024), ROUNDS the rounds (default 3), FAST_BENCH_DATA a folder that keeps the files.
#   bench/index_bench.sh [build-dir]
set -euo pipefail
. "$(dirname "$0")/common.sh"
build=${1:-${FAST_BUILD_DIR:-build-bench}}
bin=$build/bin
mb=${FAST_BENCH_MB:-1024}
rounds=${ROUNDS:-3}
peers igzip:isal bgzip:tabix pigz:pigz /usr/bin/time:time zstd:zstd

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=${FAST_BENCH_DATA:-$work}
mkdir -p "$data"
readsFiles bgzf

# Copies without an index: hard links, the same bytes and identity under another name.
for f in "$fq" "$gz" "$bgzf"; do
    rm -f "$f.noindex"
    ln "$f" "$f.noindex"
done

rm -f "$gz.ridx"
add build "index build, gzip -6" "$bin/index_tool build '$gz'"
add seqgz "stream, gzip -6, no index" "$bin/stream_count '$gz.noindex'"
measure
echo "== building the index"
printf '%-28s %8s s  %8s KiB\n' "${names[0]}" "${best[0]}" "${peak[0]}"
printf '%-28s %8s s  %8s KiB\n' "${names[1]}" "${best[1]}" "${peak[1]}"
awk -v a="${best[0]}" -v b="${best[1]}" 'BEGIN { printf "build / sequential read: %.2fx (target 1.15x)\n", a / b }'
for f in "$fq" "$bgzf"; do "$bin/index_tool" build "$f" > /dev/null; done

echo "== the index's size"
for f in "$fq" "$gz" "$bgzf"; do
    awk -v a="$(stat -c %s "$f.ridx")" -v b="$(stat -c %s "$f")" -v f="$(basename "$f")" \
        'BEGIN { printf "%-24s %10d bytes, %.3f%% of the file (target 1%%)\n", f, a, 100 * a / b }'
done

for threads in 0 ${THREADS_LIST:-2 3}; do
    names=() commands=() at=()
    add plain "stream, plain, index" "$bin/stream_count '$fq' 0 $threads"
    add plain0 "stream, plain, no index" "$bin/stream_count '$fq.noindex' 0 $threads"
    add gz "stream, gzip -6, index" "$bin/stream_count '$gz' 0 $threads"
    add igz "igzip -dc, gzip -6" "igzip -dc '$gz' > /dev/null"
    add bgzf "stream, BGZF, index" "$bin/stream_count '$bgzf' 0 $threads"
    add bgzf0 "stream, BGZF, no index" "$bin/stream_count '$bgzf.noindex' 0 $threads"
    add ibgzf "igzip -dc, BGZF" "igzip -dc '$bgzf' > /dev/null"
    measure
    for k in plain0 gz bgzf bgzf0; do
        # The counts' line; the parse time on the next line differs from run to run.
        cmp -s <(head -1 "$work/out.${at[plain]}") <(head -1 "$work/out.${at[$k]}") ||
            { echo "the counts differ: ${names[${at[$k]}]}"; exit 1; }
    done
    echo "== threads $threads (0: the default)"
    for i in "${!names[@]}"; do
        printf '%-28s %8s s  %8s KiB\n' "${names[$i]}" "${best[$i]}" "${peak[$i]}"
    done
    ratio() { awk -v a="${best[${at[$1]}]}" -v b="${best[${at[$2]}]}" -v t="$3" \
        'BEGIN { printf "%s: %.2fx (target %s)\n", t, a / b, "0.6x" }'; }
    ratio gz igz "gzip -6 with the index / igzip -dc"
    ratio bgzf ibgzf "BGZF with the index / igzip -dc"
    ratio plain plain0 "plain with the index / without"
done

entries=$(sed -n 's/^entries \([0-9]*\),.*/\1/p' "$work/out.${at[plain]}")
ks=$(awk -v n="$entries" 'BEGIN { srand(7); for (i = 0; i < 8; ++i) printf "%d ", int(rand() * n) }')
names=() commands=() at=()
add atgz "entry k, gzip -6 (slowest of 8)" "$bin/index_tool at '$gz' $ks"
add atbgzf "entry k, BGZF (slowest of 8)" "$bin/index_tool at '$bgzf' $ks"
add atplain "entry k, plain (slowest of 8)" "$bin/index_tool at '$fq' $ks"
measure
echo "== random access (target 30 ms)"
for i in "${!names[@]}"; do printf '%-32s %8s s\n' "${names[$i]}" "${best[$i]}"; done

names=() commands=() at=()
add wbgzfx "write BGZF, with the index" "$bin/fastq_copy --no-sync --index '$fq' '$work/w.x.gz'"
add wbgzf "write BGZF, without" "$bin/fastq_copy --no-sync '$fq' '$work/w.gz'"
add wzstdx "write zstd, with the index" "$bin/fastq_copy --no-sync --index '$fq' '$work/w.x.zst'"
add wzstd "write zstd, without" "$bin/fastq_copy --no-sync '$fq' '$work/w.zst'"
measure
echo "== writing the index as the file is written"
for i in "${!names[@]}"; do printf '%-32s %8s s  %8s KiB\n' "${names[$i]}" "${best[$i]}" "${peak[$i]}"; done
for pair in "wbgzfx wbgzf w.x.gz w.gz BGZF" "wzstdx wzstd w.x.zst w.zst zstd"; do
    set -- $pair
    awk -v a="${best[${at[$1]}]}" -v b="${best[${at[$2]}]}" -v sa="$(stat -c %s "$work/$3")" \
        -v sb="$(stat -c %s "$work/$4")" -v f="$5" \
        'BEGIN { printf "%s with the index / without: %.2fx the time, %.3fx the size\n", f, a / b, sa / sb }'
done
names=() commands=() at=()
add zx "stream, zstd written with its index" "$bin/stream_count '$work/w.x.zst' 0 0"
ln -f "$work/w.x.zst" "$work/w.nox.zst"
add z "stream, the same without the index" "$bin/stream_count '$work/w.nox.zst' 0 0"
add zdc "zstd -dc" "zstd -dc '$work/w.x.zst' > /dev/null"
measure
for i in "${!names[@]}"; do printf '%-36s %8s s  %8s KiB\n' "${names[$i]}" "${best[$i]}" "${peak[$i]}"; done
awk -v a="${best[${at[zx]}]}" -v b="${best[${at[zdc]}]}" \
    'BEGIN { printf "zstd written with its index: stream / zstd -dc %.2fx\n", a / b }'
rm -f "$fq.noindex" "$gz.noindex" "$bgzf.noindex" "$fq.ridx" "$gz.ridx" "$bgzf.ridx"
