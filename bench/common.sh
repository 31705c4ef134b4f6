# Shared by the benchmark scripts (sourced, not run): installing the peers they compare with, and
# timing commands in alternating rounds.

# peers COMMAND:PACKAGE...: installs each Debian package whose command is missing; a command that
# starts with / is a file to find (/usr/bin/time), and py.MODULE a module that $python (default
# python3) must import.
peers() {
    local need=() pair cmd
    for pair in "$@"; do
        cmd=${pair%%:*}
        case $cmd in
        /*) [ -x "$cmd" ] && continue ;;
        py.*) "${python:-python3}" -c "import ${cmd#py.}" 2>/dev/null && continue ;;
        *) command -v "$cmd" >/dev/null && continue ;;
        esac
        need+=("${pair#*:}")
    done
    [ ${#need[@]} -gt 0 ] || return 0
    echo "installing the peers: ${need[*]}"
    apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null ||
        { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${need[@]}"; }
}

# add KEY NAME COMMAND: one more command to measure, known by KEY (its index is at[KEY]).
names=()
commands=()
declare -A at=()
add() {
    at[$1]=${#commands[@]}
    names+=("$2")
    commands+=("$3")
}

# measure: runs each of commands[] ROUNDS ($rounds) times, taking turns, in bash; fills best[i]
# (seconds: the whole command's, or what it prints on a line "loop SECONDS" when it times its
# own loop) and peak[i] (KiB), and leaves each command's standard output of the last round in
# $work/out.i and of all rounds in $work/all.i. Fails the script when a command fails.
measure() {
    best=()
    peak=()
    rm -f "$work"/all.*
    local i secs kb loop
    for _ in $(seq "$rounds"); do
        for i in "${!commands[@]}"; do
            if ! /usr/bin/time -f "%e %M" -o "$work/time" bash -c "${commands[$i]}" \
                > "$work/out.$i"; then
                echo "failed: ${commands[$i]}" >&2
                exit 1
            fi
            cat "$work/out.$i" >> "$work/all.$i"
            read -r secs kb < <(tail -n 1 "$work/time")
            loop=$(sed -n 's/^loop //p' "$work/out.$i")
            secs=${loop:-$secs}
            if [ -z "${best[$i]:-}" ] || awk -v a="$secs" -v b="${best[$i]}" 'BEGIN { exit !(a < b) }'
            then
                best[$i]=$secs
            fi
            [ "${peak[$i]:-0}" -ge "$kb" ] || peak[$i]=$kb
        done
    done
}

# readsFiles [bgzf]: the benchmark's FASTQ of $mb MB, $fq, and its gzip -6 copy, $gz (and with
# bgzf its BGZF copy, $bgzf), written into $data unless they are there from an earlier run;
# then read once, so that every command finds them in the page cache.
readsFiles() {
    fq=$data/reads-$mb.fq
    gz=$fq.gz
    bgzf=$data/reads-$mb.bgzf.gz
    if [ ! -s "$fq" ] || [ ! -s "$gz" ] || { [ "${1:-}" = bgzf ] && [ ! -s "$bgzf" ]; }; then
        "$bin/toolkit_run" gen "$mb" > "$fq"
        # pigz -6 writes one gzip member, as gzip -6 does, in a fraction of the time.
        pigz -6 -c "$fq" > "$gz"
        [ "${1:-}" != bgzf ] || bgzip -c -@ "$(nproc)" "$fq" > "$bgzf"
    fi
    cat "$fq" "$gz" > /dev/null
    [ "${1:-}" != bgzf ] || cat "$bgzf" > /dev/null
}

# readsFile KIND: the path and label of the reads file of KIND (plain, gz or bgzf), in $path and
# $label.
readsFile() {
    case $1 in
    plain) path=$fq label=plain ;;
    gz) path=$gz label="gzip -6" ;;
    bgzf) path=$bgzf label=BGZF ;;
    esac
}
