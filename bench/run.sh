#!/usr/bin/env bash
# Times tolv's lookup by name on Linux side by side with pgrep -x, renice by
# pgrep, and a bare /proc walk (bare_walk.c), with N throwaway processes and
# one target placed last in process-id order or halfway. The commands take
# turns run by run (alternate.c), so that other work on the machine weighs on
# all of them alike.
#
# Usage: bench/run.sh [-s "N:PLACE ..."] [-r RUNS] [-t TOLV]
#   -s  scenarios: N processes and the target's place among them, end,
#       middle or the number started before it (default: 100, 1000 and
#       4000, each end and middle, plus 4000:1000, whose target sits where
#       1000:end puts it: the same position among four times the processes)
#   -r  timed runs per command (default 40)
#   -t  the tool (default build/native/tolv)
#
# The target's nice is not reset between runs: tolv and renice set 19 each
# time, which costs them the same whether or not it is 19 already.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck disable=SC1091 # bench/common.sh, checked on its own
. "$root/bench/common.sh"
scenarios="100:end 100:middle 1000:end 1000:middle 4000:1000 4000:end 4000:middle"
runs=40
tolv=$root/build/native/tolv
bench_options "s=scenarios r=runs t=tolv" "$@"

bench_needs valgrind python3 cc strip pgrep renice
[ -x "$tolv" ] || { echo "bench: no $tolv; build it first (cmake --preset native && cmake --build --preset native)" >&2; exit 2; }

work=$(mktemp -d)
pids=()
helper=
# Runs a long command in the background, so that a signal is handled at once
# rather than once the command is over.
interruptible() {
    "$@" &
    helper=$!
    wait "$helper"
    helper=
}
stop_all() {
    [ -z "$helper" ] || kill "$helper" 2>/dev/null || true
    if [ ${#pids[@]} -gt 0 ]; then
        kill "${pids[@]}" 2>/dev/null || true
        wait "${pids[@]}" 2>/dev/null || true
    fi
    pids=()
}
trap 'stop_all; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

cc -O2 -o "$work/bare_walk" "$root/bench/bare_walk.c"
cc -O2 -o "$work/alternate" "$root/bench/alternate.c"
# Short names: the kernel keeps 15 characters of a process name, and a longer
# one would send tolv down its slower full-name path.
target=tvb$$
cp "$(command -v sleep)" "$work/tvbfill"
cp "$(command -v sleep)" "$work/$target"

# The start of the highest free run of pids with room for $1 more, or nothing.
free_run() {
    { ls /proc | grep -E '^[0-9]+$'; echo "$pid_max"; } | sort -n |
        awk -v need="$1" 'NR > 1 && $1 - prev > need { start = prev } { prev = $1 } END { print start }'
}

# Processes listed before pid in /proc, in the order a walk meets them.
position_of() {
    ls /proc | grep -E '^[0-9]+$' | awk -v p="$1" '$1 < p' | wc -l
}

start_fillers() {
    local i
    for ((i = 0; i < $1; i++)); do
        "$work/tvbfill" 3600 &
        pids+=($!)
    done
}

# Valgrind 3.19 gives up on the DWARF 5 that clang 14 writes; the count needs
# no debug information, so callgrind gets a stripped copy.
strip --strip-debug -o "$work/tolv" "$tolv"

# Total instructions executed in user space, as callgrind counts them.
instructions() {
    local out=$work/cg.out
    rm -f "$out"
    interruptible valgrind --tool=callgrind --callgrind-out-file="$out" "$@" >/dev/null 2>&1
    awk '/^(summary|totals):/ { print $2; exit }' "$out"
}

results=$work/results.tsv
: >"$results"
pid_max=$(cat /proc/sys/kernel/pid_max)
measured=0

for scenario in $scenarios; do
    n=${scenario%%:*}
    place=${scenario##*:}
    case $place in
    end) before=$n ;;
    middle) before=$((n / 2)) ;;
    *[!0-9]* | '') echo "bench: place must be end, middle or a count: $scenario" >&2; exit 2 ;;
    *) before=$place ;;
    esac

    # A run of free pids, so that the new processes line up in the order they
    # are started; without the right to choose one, the next pids must do.
    start=$(free_run $((n + 2000)))
    if [ -n "$start" ] && echo "$start" >/proc/sys/kernel/ns_last_pid 2>/dev/null; then
        :
    elif (($(cat /proc/sys/kernel/ns_last_pid) + n + 2000 >= pid_max)); then
        echo "bench: no room for $n pids in a row; $scenario skipped" >&2
        continue
    fi

    start_fillers "$before"
    "$work/$target" 3600 &
    pids+=($!)
    target_pid=$!
    start_fillers $((n - before))

    # Wait until each child has become what it was started as.
    for _ in $(seq 600); do
        [ "$(pgrep -xc tvbfill || true)" -ge "$n" ] && [ "$(pgrep -x "$target" || true)" = "$target_pid" ] && break
        sleep 0.1
    done
    position=$(position_of "$target_pid")

    # Each must find the target, and tolv must change it, or the timing means nothing.
    [ "$("$work/bare_walk" "$target")" = "$target_pid" ] || { echo "bench: bare_walk missed the target" >&2; exit 1; }
    [ "$(pgrep -x "$target")" = "$target_pid" ] || { echo "bench: pgrep missed the target" >&2; exit 1; }
    renice -n 0 -p "$target_pid" >/dev/null
    "$tolv" "$target" IDLE
    # ps shows no nice under SCHED_IDLE: the stat record's field 19 has it.
    [ "$(cut -d' ' -f19 "/proc/$target_pid/stat")" = 19 ] || { echo "bench: tolv did not set nice 19" >&2; exit 1; }

    echo "== $n processes, target $place (pid $target_pid, $position listed before it)" >&2
    times=$work/$((++measured))-$n-$place.tsv
    interruptible "$work/alternate" 5 "$runs" \
        tolv "$tolv" "$target" IDLE -- \
        pgrep pgrep -x "$target" -- \
        renice sh -c "renice -n 19 -p \$(pgrep -x $target)" -- \
        bare "$work/bare_walk" "$target" >"$times"

    ir_tolv=$(instructions "$work/tolv" "$target" IDLE)
    ir_pgrep=$(instructions pgrep -x "$target")
    ir_bare=$(instructions "$work/bare_walk" "$target")
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$n" "$place" "$position" "$times" "$ir_tolv" "$ir_pgrep" "$ir_bare" >>"$results"
    stop_all
done

[ -s "$results" ] || { echo "bench: nothing measured" >&2; exit 1; }
python3 "$root/bench/report.py" "$results"
