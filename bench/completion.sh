#!/usr/bin/env bash
# Times one Tab of tolv's bash completion (the first word, nothing typed)
# beside N pausing processes of another user, nobody, each under a comm of
# 15 bytes, so that the completion reads their command lines: in one PID
# namespace each has three arguments of 128 KiB with no slash, in another
# three short ones. The completion of the work tree and that of a control
# commit (read from git) are each timed in both namespaces, the four taking
# turns round after round, so that other work on the machine weighs on all of
# them alike. A Tab is the call of _tolv, timed within the bash that runs it
# after sourcing bash-completion (where installed) and the completion: its
# wall time, and its CPU time (user and system, the find it starts among it),
# which a busy machine stretches less.
#
# Usage: bench/completion.sh [-n N] [-r RUNS] [-c CONTROL] [-f FILE]
#   -n  processes in each namespace (default 200)
#   -r  rounds (default 5)
#   -c  the control commit (default d48209e)
#   -f  the completion measured (default src/platform/linux/tolv.bash-completion.in,
#       whose priority words, which the build writes in, a Tab on the first
#       word does not read)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck disable=SC1091 # bench/common.sh, checked on its own
. "$root/bench/common.sh"
n=200
runs=5
control=d48209e
subject=$root/src/platform/linux/tolv.bash-completion.in
bench_options "n=n r=runs c=control f=subject" "$@"

bench_needs cc git unshare nsenter setpriv
[ "$(id -u)" = 0 ] || { echo "bench: run it as root" >&2; exit 2; }

work=$(mktemp -d)
chmod 755 "$work"
spaces=()
# Each namespace ends with its first process (unshare itself outlives a TERM).
trap '[ ${#spaces[@]} -eq 0 ] || kill -KILL "${spaces[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
# The control's completion under the name it has at that commit.
git -C "$root" show "$control:src/platform/linux/tolv.bash-completion.in" >"$work/control" 2>/dev/null ||
    git -C "$root" show "$control:src/platform/linux/tolv.bash-completion" >"$work/control"
cp "$subject" "$work/subject"
# The file name gives the comm: its first 15 bytes.
pauser=$work/tolvbench-pauser
printf '#include <unistd.h>\nint main(void) { for (;;) pause(); }\n' | cc -O2 -x c -o "$pauser" -

# start_space LENGTH VAR: starts a namespace of N pausers whose three
# arguments are LENGTH bytes each; sets VAR to the process id, outside it,
# of its first process. Errors go to a file, shown if the namespace fails
# to start, so that unshare's complaint when it is killed at the end is not.
# shellcheck disable=SC2016 # run in the namespace, with its own arguments
start_space() {
    local length=$1 out=$work/ready.$1
    unshare --pid --fork --kill-child --mount-proc bash -c '
        arg=$(head -c "$2" /dev/zero | tr "\0" a)
        for ((i = 0; i < $1; i++)); do
            setpriv --reuid=65534 --regid=65534 --clear-groups -- \
                bash -c '\''exec -a "$1" "$0" "$1" "$1"'\'' "$3" "$arg" &
        done
        until [ "$(cat /proc/[0-9]*/comm 2>/dev/null | grep -c "^tolvbench-pause$")" -ge "$1" ]; do
            sleep 0.1
        done
        echo ready
        wait' sh "$n" "$length" "$pauser" >"$out" 2>"$out.err" &
    printf -v "$2" ''
    until [ -n "${!2}" ]; do
        sleep 0.1
        kill -0 "$!" 2>/dev/null || { cat "$out.err" >&2; exit 1; }
        read -r "$2" <"/proc/$!/task/$!/children" || true
    done
    spaces+=("${!2}")
    until grep -q ready "$out"; do
        kill -0 "$!" 2>/dev/null || { cat "$out.err" >&2; exit 1; }
        sleep 0.1
    done
}

start_space 131071 long
start_space 8 short

# One Tab in the namespace of process PID with the completion FILE: its wall
# and CPU times in ms.
# shellcheck disable=SC2016 # run in the namespace, with its own arguments
tab() {
    nsenter -t "$1" -p -m -- bash --norc -c '
        [ ! -f /usr/share/bash-completion/bash_completion ] || source /usr/share/bash-completion/bash_completion
        source "$1"
        COMP_WORDS=(tolv "") COMP_CWORD=1 COMP_LINE="tolv " COMP_POINT=5
        TIMEFORMAT="%3R %3U %3S"
        { time _tolv tolv "" tolv; } 2>&1
        ((${#COMPREPLY[@]} > 0))' sh "$2" | awk '{ printf "%.0f %.0f\n", $1 * 1000, ($2 + $3) * 1000 }'
}

for ((round = 0; round < runs; round++)); do
    for file in subject control; do
        for space in long short; do
            ms=$(tab "${!space}" "$work/$file")
            echo "$file $space $ms"
        done
    done
done >"$work/times"

# The median of column COLUMN (3: wall, 4: CPU) of FILE's Tabs in SPACE.
median() {
    awk -v f="$1" -v s="$2" -v c="$3" '$1 == f && $2 == s { print $c }' "$work/times" | sort -n |
        awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' completion N "long ms" "short ms" "long/short" \
    "long CPU ms" "short CPU ms" "long/short CPU"
for file in subject control; do
    row=()
    for column in 3 4; do
        l=$(median "$file" long "$column")
        s=$(median "$file" short "$column")
        row+=("$l" "$s" "$(awk -v l="$l" -v s="$s" 'BEGIN { printf "%.2f", l / s }')")
    done
    printf '%s\t%d\t%s\t%s\t%s\t%s\t%s\t%s\n' "$file" "$n" "${row[@]}"
done
