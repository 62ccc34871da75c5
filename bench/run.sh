#!/usr/bin/env bash
# Times tolv's lookup by name on Linux side by side with pgrep -x, renice by
# pgrep, and a bare /proc walk (bare_walk.c), with N throwaway processes and
# one target placed last in process-id order or halfway.
#
# Usage: bench/run.sh [-s "N:end N:middle ..."] [-r RUNS] [-t TOLV]
#   -s  scenarios (default: 100, 1000 and 4000, each end and middle, plus
#       2000:middle, whose target sits where 1000:end puts it: same position,
#       twice the processes)
#   -r  timed runs per command (default 40)
#   -t  the tool (default build/native/tolv)
#
# The target's nice is not reset between runs: tolv and renice set 19 each
# time, which costs them the same whether or not it is 19 already.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
scenarios="100:end 100:middle 1000:end 1000:middle 2000:middle 4000:end 4000:middle"
runs=40
tolv=$root/build/native/tolv
while getopts s:r:t: opt; do
    case $opt in
    s) scenarios=$OPTARG ;;
    r) runs=$OPTARG ;;
    t) tolv=$OPTARG ;;
    *) exit 2 ;;
    esac
done

for tool in hyperfine valgrind python3 cc strip pgrep renice; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is needed" >&2; exit 2; }
done
[ -x "$tolv" ] || { echo "bench: no $tolv; build it first (cmake --preset native && cmake --build --preset native)" >&2; exit 2; }

work=$(mktemp -d)
pids=()
stop_all() {
    if [ ${#pids[@]} -gt 0 ]; then
        kill "${pids[@]}" 2>/dev/null || true
        wait "${pids[@]}" 2>/dev/null || true
    fi
    pids=()
}
trap 'stop_all; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

cc -O2 -o "$work/bare_walk" "$root/bench/bare_walk.c"
# Short names: the kernel keeps 15 characters of a process name, and a longer
# one would send tolv down its slower full-name path.
target=tvb$$
cp "$(command -v sleep)" "$work/tvbfill"
cp "$(command -v sleep)" "$work/$target"

highest_pid() {
    ls /proc | grep -E '^[0-9]+$' | sort -n | tail -1
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
    valgrind --tool=callgrind --callgrind-out-file="$out" "$@" >/dev/null 2>&1
    awk '/^(summary|totals):/ { print $2; exit }' "$out"
}

results=$work/results.tsv
: >"$results"
pid_max=$(cat /proc/sys/kernel/pid_max)

for scenario in $scenarios; do
    n=${scenario%%:*}
    place=${scenario##*:}
    case $place in end | middle) ;; *) echo "bench: place must be end or middle: $scenario" >&2; exit 2 ;; esac

    # Start above every process there is, so that the new ones line up in
    # the order they are started; without the right to choose, hope for room.
    top=$(highest_pid)
    if ((top + n + 2000 >= pid_max)); then
        echo "bench: pids near $pid_max; $scenario may wrap and is skipped" >&2
        continue
    fi
    echo "$top" >/proc/sys/kernel/ns_last_pid 2>/dev/null || true

    before=$n
    [ "$place" = middle ] && before=$((n / 2))
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
    [ "$(ps -o ni= -p "$target_pid" | tr -d ' ')" = 19 ] || { echo "bench: tolv did not set nice 19" >&2; exit 1; }

    echo "== $n processes, target $place (pid $target_pid, $position listed before it)" >&2
    json=$work/$n-$place.json
    hyperfine -N --style basic --warmup 5 --runs "$runs" --export-json "$json" \
        -n tolv "$tolv $target IDLE" \
        -n pgrep "pgrep -x $target" \
        -n renice "sh -c 'renice -n 19 -p \$(pgrep -x $target)'" \
        -n bare "$work/bare_walk $target" >&2

    ir_tolv=$(instructions "$work/tolv" "$target" IDLE)
    ir_pgrep=$(instructions pgrep -x "$target")
    ir_bare=$(instructions "$work/bare_walk" "$target")
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$n" "$place" "$position" "$json" "$ir_tolv" "$ir_pgrep" "$ir_bare" >>"$results"
    stop_all
done

python3 - "$results" <<'EOF'
import json, sys

rows = []
for line in open(sys.argv[1]):
    n, place, position, path, ir_tolv, ir_pgrep, ir_bare = line.rstrip("\n").split("\t")
    med = {r["command"]: r["median"] * 1000 for r in json.load(open(path))["results"]}
    rows.append(dict(n=int(n), place=place, pos=int(position), med=med,
                     ir=dict(tolv=int(ir_tolv), pgrep=int(ir_pgrep), bare=int(ir_bare))))

print()
print("median wall time in ms; Ir = instructions in user space (callgrind)")
head = ("N", "target", "before", "tolv", "pgrep", "renice", "bare", "tolv/pgrep", "tolv/bare",
        "Ir tolv", "Ir pgrep", "Ir bare")
fmt = "{:>5} {:>6} {:>6} {:>7} {:>7} {:>7} {:>7} {:>10} {:>9} {:>10} {:>10} {:>10}"
print(fmt.format(*head))
for r in rows:
    m = r["med"]
    print(fmt.format(r["n"], r["place"], r["pos"], "%.3f" % m["tolv"], "%.3f" % m["pgrep"],
                     "%.3f" % m["renice"], "%.3f" % m["bare"], "%.3f" % (m["tolv"] / m["pgrep"]),
                     "%.3f" % (m["tolv"] / m["bare"]), r["ir"]["tolv"], r["ir"]["pgrep"], r["ir"]["bare"]))

print()
missed = 0
def verdict(ok, text):
    global missed
    missed += not ok
    print(("met:    " if ok else "MISSED: ") + text)

find = {(r["n"], r["place"]): r for r in rows}
goal = find.get((1000, "end"))
if goal:
    m = goal["med"]
    verdict(m["tolv"] <= m["pgrep"] / 5, "N=1000, target last: tolv %.3f ms <= pgrep %.3f ms / 5" % (m["tolv"], m["pgrep"]))
    verdict(m["tolv"] <= 1.25 * m["bare"], "N=1000, target last: tolv %.3f ms <= 1.25 x bare %.3f ms" % (m["tolv"], m["bare"]))
same = find.get((2000, "middle"))
if goal and same:
    # Same position, twice the processes: the cost should barely move.
    t = same["med"]["tolv"] / goal["med"]["tolv"]
    i = same["ir"]["tolv"] / goal["ir"]["tolv"]
    verdict(t <= 1.15, "same position, N 1000 -> 2000: tolv time x%.3f, Ir x%.3f (bare: time x%.3f, Ir x%.3f)"
            % (t, i, same["med"]["bare"] / goal["med"]["bare"], same["ir"]["bare"] / goal["ir"]["bare"]))
sys.exit(3 if missed else 0)
EOF
