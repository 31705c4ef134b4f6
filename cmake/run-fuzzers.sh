#!/bin/sh
# Run every libFuzzer harness of a -DFAST_FUZZ=ON build (<build>/bin/fuzz_*) for a bounded time on a
# scratch copy of its seed corpus fuzz/corpus/<harness>/ (the committed corpus is never written),
# with fuzz/<harness>.dict when there is one. Inputs that crash, leak or time out are kept in
# <artifacts>/<harness>/; the run fails if any harness finds one. The harnesses' standard output
# is discarded; each log is <build>/fuzz-logs/<harness>.log.
# Usage: sh cmake/run-fuzzers.sh <build-dir> [seconds-per-harness] [artifacts-dir]
set -u
cd "$(dirname "$0")/.."
build=${1:?usage: run-fuzzers.sh <build-dir> [seconds] [artifacts-dir]}
seconds=${2:-60}
artifacts=${3:-fuzz-artifacts}
case $seconds in '' | *[!0-9]*) echo "seconds must be a whole number: $seconds"; exit 2 ;; esac

. cmake/runner-common.sh
for harness in "$build"/bin/fuzz_*; do
    [ -f "$harness" ] && [ -x "$harness" ] || continue
    name=$(basename "$harness")
    scratch=$build/fuzz-corpus/$name
    log=$build/fuzz-logs/$name.log
    rm -rf "$scratch"
    mkdir -p "$scratch" "$artifacts/$name" "$build/fuzz-logs"
    if [ -d "fuzz/corpus/$name" ]; then
        cp -R "fuzz/corpus/$name/." "$scratch/"
    else
        echo "warning: no seed corpus fuzz/corpus/$name/"
    fi
    set -- -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$name/"
    [ -f "fuzz/$name.dict" ] && set -- "$@" -dict="fuzz/$name.dict"

    echo "== $name: ${seconds}s"
    ran=$((ran + 1))
    if "$harness" "$@" "$scratch" >/dev/null 2>"$log"; then
        grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log"
    else
        tail -n 60 "$log"
        echo "$name FAILED: inputs in $artifacts/$name/, full log $log"
        failed="$failed $name"
    fi
done

finish "no fuzz harnesses in $build/bin (fuzz_*)" "fuzzers with findings" \
    "all $ran fuzz harnesses ran ${seconds}s each without a finding"
