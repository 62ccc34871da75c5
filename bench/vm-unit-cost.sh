#!/bin/sh
# The cost of a class that reaches a systemd unit, in a stock Debian 12 or 13 booted once under qemu
# by tests/vm/run.sh: root's tolv on a target alone in its login session's scope, beside
# "systemctl set-property --runtime" of the same weight on that scope, renice of the same nice, and
# the tolv of commit CONTROL, built apart from the work tree as vm-shares.sh builds it. Each of the
# four makes IDLE's change and then NORMAL's; a round times both, the four taking turns, and the
# figures are the medians of RUNS rounds, in ms.
#
# Usage: bench/vm-unit-cost.sh [-n RUNS] [-c CONTROL] [-t TOLV] [-r RELEASE]   (as root)
# Inside the guest this same file is the script that run.sh's unit starts.
if [ "$0" = /opt/tolv/run ]; then
    cp /bin/sleep /tmp/tub && systemctl start user@1000
    runuser -l user -c 'exec /tmp/tub 1000' </dev/null >/dev/null 2>&1 &
    until p=$(pgrep -x tub); do sleep 0.2; done
    scope=$(sed -n 's|^0::.*/||p' /proc/$p/cgroup)
    # The microseconds a command takes.
    us() { s=$(date +%s%N); "$@" >/dev/null 2>&1; echo $((($(date +%s%N) - s) / 1000)); }
    weight() { systemctl show -p CPUWeight --value $scope; }
    for tool in tolv control; do
        /opt/tolv/$tool tub IDLE && a=$(weight) && /opt/tolv/$tool tub NORMAL
        echo "note check $tool $scope: IDLE $a, NORMAL $(weight)"
    done
    for _ in $(seq "$(cat /opt/tolv/runs)"); do
        for tool in tolv control; do
            echo "note time $tool $(($(us /opt/tolv/$tool tub IDLE) + $(us /opt/tolv/$tool tub NORMAL)))"
        done
        set -- systemctl set-property --runtime $scope
        echo "note time systemctl $(($(us "$@" CPUWeight=idle) + $(us "$@" CPUWeight=100)))"
        echo "note time renice $(($(us renice -n 19 -p $p) + $(us renice -n 0 -p $p)))"
    done
    exit 0
fi
set -eu
root=$(cd "$(dirname "$0")/.." && pwd) runs=30 control=3407a31 tolv=$root/build/native/tolv release=12
# shellcheck disable=SC1091 # bench/common.sh, checked on its own
. "$root/bench/common.sh"
bench_options "n=runs c=control t=tolv r=release" "$@"
[ -x "$tolv" ] || { echo "vm-unit-cost: no $tolv; build it first (cmake --build --preset native --target tolv)" >&2; exit 2; }
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
old=$(sh "$root/bench/control.sh" "$control" "$work")
mkdir "$work/in" && cp "$old" "$work/in/control" && echo "$runs" >"$work/in/runs"
TOLV_VM_TIMEOUT=1200 sh "$root/tests/vm/run.sh" "$release" "$tolv" "$0" "$work/in/control" "$work/in/runs" >"$work/out" || true
grep -q '^note time' "$work/out" || { cat "$work/out"; exit 1; }
sed -n 's/^note check //p' "$work/out"
median() { sed -n "s/^note time $1 //p" "$work/out" | sort -n | awk '{ v[NR] = $1 } END { printf "%.1f", (v[int((NR + 1) / 2)] + v[int(NR / 2) + 1]) / 2000 }'; }
t=$(median tolv) c=$(median control) s=$(median systemctl) r=$(median renice)
echo "Debian $release, $runs rounds, medians in ms of IDLE then NORMAL"
echo "| tolv | $control (control) | systemctl set-property | renice | tolv/systemctl | tolv/renice | control/systemctl |"
echo "|---|---|---|---|---|---|---|"
awk -v t="$t" -v c="$c" -v s="$s" -v r="$r" 'BEGIN { printf "| %s | %s | %s | %s | %.2f | %.2f | %.2f |\n", t, c, s, r, t / s, t / r, c / s }'
