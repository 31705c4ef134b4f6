#!/bin/sh
# Run every benchmark of a build made with -DFAST_BUILD_BENCH=ON: each executable
# <build>/bin/bench_* (Google Benchmark; BENCH_ARGS are passed on, for example
# BENCH_ARGS=--benchmark_filter=Sort) and each script bench/*.sh (by its #! line when executable,
# else by bash). A script runs from the top of the source tree with FAST_BUILD_DIR and FAST_BIN_DIR
# set and the build's bin/ first on PATH. Every benchmark runs even when one fails; the run fails
# then. Usage: sh cmake/run-benchmarks.sh <build-dir>
set -u
cd "$(dirname "$0")/.."
build=${1:?usage: run-benchmarks.sh <build-dir>}
FAST_BUILD_DIR=$(cd "$build" 2>/dev/null && pwd) || { echo "no build directory $build"; exit 1; }
FAST_BIN_DIR=$FAST_BUILD_DIR/bin
export FAST_BUILD_DIR FAST_BIN_DIR
PATH=$FAST_BIN_DIR:$PATH
export PATH

. cmake/runner-common.sh
# run LABEL COMMAND...
run() {
    label=$1
    shift
    echo "== $label"
    ran=$((ran + 1))
    "$@" || failed="$failed $label"
}
for exe in "$FAST_BIN_DIR"/bench_*; do
    [ -f "$exe" ] && [ -x "$exe" ] || continue
    # shellcheck disable=SC2086 # BENCH_ARGS is a list of options
    run "$(basename "$exe")" "$exe" ${BENCH_ARGS:-}
done
for script in bench/*.sh; do
    [ -f "$script" ] || continue
    if [ -x "$script" ]; then run "$script" "./$script"; else run "$script" bash "$script"; fi
done

finish "no benchmarks found (no $FAST_BIN_DIR/bench_*, no bench/*.sh)" "benchmarks failed"
