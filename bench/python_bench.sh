#!/usr/bin/env bash
# The Python package fastreads beside the Python readers a user would otherwise reach for, on the
# stream benchmark's files (a generated FASTQ of four-line entries, its gzip -6 copy and its BGZF
# copy), in one run with the commands taking turns, best of ROUNDS (default 3):
#   - records: fastreads, dnaio, pyfastx, mappy, pysam (and Biopython with PYTHON_BENCH_BIO=1)
#     on each file;
#   - batches: fastreads' arrays on the plain file, beside the C stream (bin/stream_count);
#   - pairs: the plain file as both files of a pair, fastreads and dnaio;
#   - writing: the plain file's records to BGZF at level 1, fastreads beside the C writer
#     (bin/fastq_copy, the copying example) copying the same entries.
# Times are of each reading loop, interpreter start and imports left out (bench/python_bench.py
# prints them); the C programs' times are whole processes. Peak RSS is the largest seen, and
# the records' memory is given above the interpreter's own with fastreads imported.
# Every reader must find the same entries and bases. Ratios are printed with their targets.
# Runs Debian's /usr/bin/python3 (PYTHON), with the module built in the build tree. It installs
# the peers when missing, by apt: python3-dnaio python3-pyfastx python3-mappy python3-pysam
# python3-biopython, tabix (bgzip), pigz and time.
# FAST_BENCH_MB sets the file size (default 1024); the files are written to a scratch folder, or
# kept in and taken again from FAST_BENCH_DATA.
#   bench/python_bench.sh [build-dir]
set -euo pipefail
build=${1:-${FAST_BUILD_DIR:-build-bench}}
bin=$build/bin
mb=${FAST_BENCH_MB:-1024}
rounds=${ROUNDS:-3}
python=${PYTHON:-/usr/bin/python3}
here=$(cd "$(dirname "$0")" && pwd)

. "$here/common.sh"
peers py.dnaio:python3-dnaio py.pyfastx:python3-pyfastx py.mappy:python3-mappy \
      py.pysam:python3-pysam py.Bio:python3-biopython bgzip:tabix pigz:pigz /usr/bin/time:time
cmake "$build" >/dev/null && cmake --build "$build" --target _fastreads fastq_copy stream_count toolkit_run >/dev/null
export PYTHONPATH=$build/python${PYTHONPATH:+:$PYTHONPATH}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=${FAST_BENCH_DATA:-$work}
mkdir -p "$data"
readsFiles bgzf
echo "FASTQ: $(stat -c %s "$fq") bytes; gzip -6: $(stat -c %s "$gz"); BGZF: $(stat -c %s "$bgzf")"

declare -A best peak
py="$python $here/python_bench.py"
for f in plain gz bgzf; do
    readsFile "$f"
    for reader in ours dnaio pyfastx mappy pysam; do
        add "$reader $f" "$reader records, $label" "$py $reader $path"
    done
    [ -z "${PYTHON_BENCH_BIO:-}" ] || add "biopython $f" "biopython, $label" "$py biopython $path"
done
add "batches plain" "fastreads batches, plain" "$py batches $fq"
add "stream plain" "C stream, plain" "$bin/stream_count $fq"
add "ours pairs" "fastreads pairs, plain" "$py ours-pairs $fq $fq"
add "dnaio pairs" "dnaio pairs, plain" "$py dnaio-pairs $fq $fq"
add "ours write" "fastreads write, BGZF 1" "$py ours-write $fq $work/py.fq.gz"
add "c write" "C writer, BGZF 1" "$bin/fastq_copy $fq $work/c.fq.gz 1 0"
add baseline "python, fastreads imported" "$py baseline $fq"

measure

counts() { sed -n 's/^entries \([0-9]*\), bases \([0-9]*\)$/\1 \2/p' "$work/out.$1"; }
want=$(counts "${at[ours plain]}")
for key in "${!at[@]}"; do
    case $key in
    baseline | "c write") continue ;;
    *pairs) read -r n b <<< "$want"; expect="$n $((2 * b))" ;;
    *) expect=$want ;;
    esac
    got=$(counts "${at[$key]}")
    [ "$got" = "$expect" ] ||
        { echo "COUNTS DIFFER: ${names[${at[$key]}]} found '$got', expected '$expect'" >&2; exit 1; }
done
echo "every reader found (entries, bases) $want"
printf '%-30s %8s %12s\n' "reader, file" seconds "peak RSS MB"
for i in "${!commands[@]}"; do
    awk -v n="${names[$i]}" -v s="${best[$i]}" -v r="${peak[$i]}" \
        'BEGIN { printf "%-30s %8.2f %12.1f\n", n, s, r / 1024 }'
done
target() {
    awk -v w="$1" -v a="${best[${at[$2]}]}" -v b="${best[${at[$3]}]}" -v l="$4" 'BEGIN {
        q = a / (b > 0 ? b : 0.001)
        printf "%-44s %6.2f  target <= %-4s %s\n", w, q, l, q <= l ? "met" : "NOT MET" }'
}
target "records, plain: fastreads / dnaio" "ours plain" "dnaio plain" 0.8
target "records, gzip -6: fastreads / dnaio" "ours gz" "dnaio gz" 0.5
target "records, BGZF: fastreads / dnaio" "ours bgzf" "dnaio bgzf" 0.4
target "batches, plain: fastreads / C stream" "batches plain" "stream plain" 1.3
target "pairs, plain: fastreads / dnaio" "ours pairs" "dnaio pairs" 0.8
target "writing BGZF 1: fastreads / C writer" "ours write" "c write" 1.5
awk -v r="${peak[${at[ours plain]}]}" -v b="${peak[${at[baseline]}]}" 'BEGIN {
    d = (r - b) / 1024
    printf "%-44s %6.1f MiB above the interpreter, target < 64 %s\n", "records, plain: peak RSS", d,
           d < 64 ? "met" : "NOT MET" }'
