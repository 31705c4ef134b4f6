# Sourced by the benchmark and fuzz runners: they count runs in `ran`, collect failed names in
# `failed`, and end with one verdict.
ran=0
failed=""

# finish NOTHING-RAN-MESSAGE FAILURES-MESSAGE [ALL-PASSED-MESSAGE]: print the verdict; exit 1 on
# any failure.
finish() {
    if [ "$ran" -eq 0 ]; then
        echo "$1"
    elif [ -n "$failed" ]; then
        echo "$2:$failed"
        exit 1
    elif [ -n "${3:-}" ]; then
        echo "$3"
    fi
}
