#!/usr/bin/env bash
# The share of the CPU that each class gives a process: two CPU-bound loops
# pinned to one CPU for SECONDS, one of them the target of tolv; its share is
# its CPU time over that of both loops. Three set-ups: both loops started from
# this script's session; each in a session of its own (setsid); each in a
# session and a cpu cgroup of its own (cgroup v1's cpu hierarchy, or v2 where
# the root already passes the cpu controller down; else skipped). Every class
# is run by this tolv and, as the control in the same run, by the tolv of
# commit CONTROL, built apart from the work tree; NORMAL is IDLE followed at
# once by NORMAL, which must undo it.
#
# Usage: bench/shares.sh [-s SECONDS] [-c CONTROL] [-t TOLV]   (as root)
#   -s  seconds per measurement (default 5)
#   -c  the commit built as the control (default a8f0485)
#   -t  the tool (default build/native/tolv)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck disable=SC1091 # bench/common.sh, checked on its own
. "$root/bench/common.sh"
seconds=5
control=a8f0485
tolv=$root/build/native/tolv
bench_options "s=seconds c=control t=tolv" "$@"
bench_needs cc cmake git setsid taskset
[ -x "$tolv" ] || { echo "shares: no $tolv; build it first (cmake --preset native && cmake --build --preset native)" >&2; exit 2; }

work=$(mktemp -d)
pids=()
groups=()
stop_loops() {
    if [ ${#pids[@]} -gt 0 ]; then
        kill "${pids[@]}" 2>/dev/null || true
        wait "${pids[@]}" 2>/dev/null || true
    fi
    pids=()
    pkill -x "$target" || true # had setsid forked, the pids would be its own
    pkill -x "$other" || true
}
cleanup() {
    stop_loops
    for group in "${groups[@]}"; do rmdir "$group" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The control: the commit's tree exported and built on its own, tolv alone.
old=$(sh "$root/bench/control.sh" "$control" "$work")

printf 'int main(void) { for (volatile unsigned long i = 0;; i++) ; }\n' >"$work/spin.c"
cc -O2 -o "$work/spin" "$work/spin.c"
target=tsa$$
other=tsb$$
cp "$work/spin" "$work/$target"
cp "$work/spin" "$work/$other"
cpu=$(($(nproc) - 1))

# Where a cpu cgroup of our own can be made without changing the machine's set-up.
cgroot=
if [ -d /sys/fs/cgroup/cpu ] && [ -w /sys/fs/cgroup/cpu ]; then
    cgroot=/sys/fs/cgroup/cpu
elif grep -qw cpu /sys/fs/cgroup/cgroup.subtree_control 2>/dev/null; then
    cgroot=/sys/fs/cgroup
fi
for name in "$target" "$other"; do
    [ -z "$cgroot" ] || ! mkdir "$cgroot/tolvbench-$name" 2>/dev/null || groups+=("$cgroot/tolvbench-$name")
done
[ -z "$cgroot" ] || [ ${#groups[@]} = 2 ] || cgroot=

# Starts a loop by name, in the set-up's way; prints nothing.
start_loop() {
    local setup=$1 name=$2
    case $setup in
    same) taskset -c "$cpu" "$work/$name" & ;;
    sessions) setsid taskset -c "$cpu" "$work/$name" & ;;
    cgroups)
        setsid sh -c 'echo $$ >"$0/cgroup.procs" && exec taskset -c "$1" "$2"' \
            "$cgroot/tolvbench-$name" "$cpu" "$work/$name" &
        ;;
    esac
    pids+=($!)
}

# The CPU time of a (one-threaded) process in ns: finer than the stat record's ticks.
cputime() { cut -d' ' -f1 "/proc/$1/schedstat"; }

# The target's share in per cent under one set-up, tool and class (or none),
# left in $value (not printed: a subshell would not stop its loops on a signal).
share() {
    local setup=$1 tool=$2 class=$3
    start_loop "$setup" "$target"
    start_loop "$setup" "$other"
    sleep 0.3
    local t o
    t=$(pgrep -x "$target")
    o=$(pgrep -x "$other")
    case $class in
    none) ;;
    NORMAL) "$tool" "$target" IDLE && "$tool" "$target" NORMAL ;;
    *) "$tool" "$target" "$class" ;;
    esac
    local t0 o0 t1 o1
    t0=$(cputime "$t") o0=$(cputime "$o")
    sleep "$seconds"
    t1=$(cputime "$t") o1=$(cputime "$o")
    stop_loops
    value=$(awk -v t=$((t1 - t0)) -v o=$((o1 - o0)) 'BEGIN { printf "%.1f", (t + o > 0 ? 100 * t / (t + o) : 0) }')
}

classes="IDLE BELOW_NORMAL NORMAL ABOVE_NORMAL HIGH REALTIME"
setups="same sessions"
[ -n "$cgroot" ] && setups="$setups cgroups" || echo "shares: no cpu cgroup can be made here; that set-up is skipped" >&2
results=$work/results
: >"$results"
for setup in $setups; do
    share "$setup" "$tolv" none
    base=$value
    for build in control this; do
        tool=$tolv
        [ $build = control ] && tool=$old
        row="$setup $build $base"
        for class in $classes; do
            share "$setup" "$tool" "$class"
            row="$row $value"
            echo "$setup, $build, $class: $value%" >&2
        done
        echo "$row" >>"$results"
    done
done

echo
echo "target's share of one CPU against a second loop, in per cent, ${seconds} s each; NORMAL is IDLE, then NORMAL"
echo "| set-up | tolv | no change | IDLE | BELOW_NORMAL | NORMAL | ABOVE_NORMAL | HIGH | REALTIME |"
echo "|---|---|---|---|---|---|---|---|---|"
while read -r setup build values; do
    echo "| $setup | $build | ${values// / | } |"
done <"$results"

# What the classes must give: IDLE at most 5% against another session and at
# most 1% within one; HIGH, as root, at least 85% against another session.
missed=0
verdict() {
    local what=$1 value=$2 op=$3 limit=$4
    if awk -v v="$value" -v l="$limit" -v op="$op" 'BEGIN { exit !(op == "<=" ? v <= l : v >= l) }'; then
        echo "met:    $what: $value% $op $limit%"
    else
        echo "MISSED: $what: $value% $op $limit%"
        missed=1
    fi
}
field() { awk -v s="$1" -v c="$2" '$1 == s && $2 == "this" { print $(c + 3) }' "$results"; }
verdict "IDLE, own sessions" "$(field sessions 1)" "<=" 5
verdict "IDLE, same session" "$(field same 1)" "<=" 1
verdict "HIGH, own sessions" "$(field sessions 5)" ">=" 85
exit $((missed * 3))
