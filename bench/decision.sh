#!/usr/bin/env bash
# Times the rule that guards the session's group, for a target alone in its
# session at the top of a tree of about N processes DEPTH levels deep, every
# one the target's own, so that tolv must judge them all before it moves the
# group. Each run of `tolv TARGET IDLE` that decides (the group's nice set
# to 0 first) takes turns with one that decides nothing (the nice set to 19
# first, so that tolv stops before the rule), through alternate.c; the
# difference of the medians is the decision's cost. One decision's stat
# reads are counted under strace.
#
# Usage: bench/decision.sh [-n "N ..."] [-d DEPTH] [-r RUNS] [-t TOLV]
#   -n  tree sizes (default: 1000 3000 5000)
#   -d  levels below the target (default 60)
#   -r  timed runs per command (default 40)
#   -t  the tool (default build/native/tolv)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck disable=SC1091 # bench/common.sh, checked on its own
. "$root/bench/common.sh"
sizes="1000 3000 5000"
depth=60
runs=40
tolv=$root/build/native/tolv
bench_options "n=sizes d=depth r=runs t=tolv" "$@"

bench_needs cc strace setsid pgrep
[ "$(cat /proc/sys/kernel/sched_autogroup_enabled 2>/dev/null)" = 1 ] || { echo "bench: autogroups are off" >&2; exit 2; }
[ -x "$tolv" ] || { echo "bench: no $tolv; build it first" >&2; exit 2; }

work=$(mktemp -d)
top=
trap '[ -z "$top" ] || kill -- -"$top" 2>/dev/null || true; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
cc -O2 -o "$work/alternate" "$root/bench/alternate.c"

# Each level starts its sleepers, then the level below, and waits for them.
target=tvd$$
cat >"$work/$target" <<'EOF'
#!/bin/sh
if [ "$1" -gt 0 ]; then
    for i in $(seq "$2"); do sleep 3600 & done
    "$0" $(($1 - 1)) "$2" &
fi
echo ready
wait
EOF
chmod +x "$work/$target"

printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' N tree "/proc" "decides ms" "decides nothing ms" "decision ms" "stat reads per process"
for n in $sizes; do
    width=$(((n - 1 + depth / 2) / depth - 1))
    setsid "$work/$target" "$depth" "$width" >"$work/ready" &
    top=$!
    until [ "$(grep -c ready "$work/ready")" -gt "$depth" ]; do sleep 0.1; done
    [ "$(cat "/proc/$top/comm")" = "$target" ] || { echo "bench: setsid did not start the tree itself" >&2; exit 1; }
    group=/proc/$top/autogroup
    processes=$(find /proc -maxdepth 1 -name '[0-9]*' | wc -l)

    # Under strace each number handed out meanwhile costs tolv far more, so that
    # other work on the machine can keep the look from settling: three tries.
    for try in 1 2 3; do
        echo 0 >"$group"
        strace -o "$work/log" -e trace=openat "$tolv" "$target" IDLE
        [ "$(awk '{ print $NF }' "$group")" != 19 ] || break
        [ "$try" -lt 3 ] || { echo "bench: tolv left the group alone" >&2; exit 1; }
    done
    reads=$(grep -cE '"/proc/[0-9]+/stat"' "$work/log")

    "$work/alternate" 5 "$runs" \
        decides sh -c 'echo 0 >"$0" && exec "$1" "$2" IDLE' "$group" "$tolv" "$target" -- \
        nothing sh -c 'echo 19 >"$0" && exec "$1" "$2" IDLE' "$group" "$tolv" "$target" >"$work/times"
    awk -v n="$n" -v tree=$((depth * (width + 1) + 1)) -v procs="$processes" -v reads="$reads" '
        { wall[$1] = $2 }
        END { printf "%d\t%d\t%d\t%.2f\t%.2f\t%.2f\t%.2f\n", n, tree, procs, wall["decides"], wall["nothing"],
              wall["decides"] - wall["nothing"], reads / procs }' "$work/times"
    kill -- -"$top"
    wait
    top=
    while pgrep -x "$target" >/dev/null; do sleep 0.1; done
done
