# Shared by the benchmark scripts (sourced, not run): installing the peers they compare with, and
# timing commands in alternating rounds.

# peers COMMAND:PACKAGE...: installs each Debian package whose command is missing (a command that
# starts with / is a file to find, as /usr/bin/time).
peers() {
    local need=() pair cmd
    for pair in "$@"; do
        cmd=${pair%%:*}
        if [[ $cmd == /* ]]; then [ -x "$cmd" ] && continue; else command -v "$cmd" >/dev/null && continue; fi
        need+=("${pair#*:}")
    done
    [ ${#need[@]} -gt 0 ] || return 0
    echo "installing the peers: ${need[*]}"
    apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null ||
        { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${need[@]}"; }
}

# measure: runs each of commands[] ROUNDS ($rounds) times, taking turns, in bash; fills best[i]
# (seconds) and peak[i] (KiB), and leaves each command's standard output of the last round in
# $work/out.i and of all rounds in $work/all.i. Fails the script when a command fails.
measure() {
    best=()
    peak=()
    rm -f "$work"/all.*
    local i secs kb
    for _ in $(seq "$rounds"); do
        for i in "${!commands[@]}"; do
            if ! /usr/bin/time -f "%e %M" -o "$work/time" bash -c "${commands[$i]}" \
                > "$work/out.$i"; then
                echo "failed: ${commands[$i]}" >&2
                exit 1
            fi
            cat "$work/out.$i" >> "$work/all.$i"
            read -r secs kb < <(tail -n 1 "$work/time")
            if [ -z "${best[$i]:-}" ] || awk -v a="$secs" -v b="${best[$i]}" 'BEGIN { exit !(a < b) }'
            then
                best[$i]=$secs
            fi
            [ "${peak[$i]:-0}" -ge "$kb" ] || peak[$i]=$kb
        done
    done
}
