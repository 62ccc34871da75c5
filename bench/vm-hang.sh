#!/bin/sh
# How long root's tolv takes on a unit of the user's whose manager does not answer, beside the same
# change with the manager answering, in a stock Debian 12 or 13 booted once under qemu by
# tests/vm/run.sh: the target is a user service (its unit has a weight, so tolv asks the user's
# manager); the manager is stopped with SIGSTOP, or its private socket is replaced by one that
# accepts and never answers. Each round times IDLE then NORMAL under each of the three, taking
# turns; the figures are the medians of RUNS rounds, in ms.
#
# Usage: bench/vm-hang.sh [-n RUNS] [-t TOLV] [-r RELEASE]   (as root)
# Inside the guest this same file is the script that run.sh's unit starts.
if [ "$0" = /opt/tolv/run ]; then
    T=/opt/tolv/tolv s=/run/user/1000/systemd/private
    usr() { runuser -u user -- env XDG_RUNTIME_DIR=/run/user/1000 "$@"; }
    cp /bin/sleep /tmp/tuh && systemctl start user@1000
    usr systemd-run -q --user --unit=tolv-hang --property=Type=exec /tmp/tuh 1000
    # A weight of its own gives the unit a cpu.weight, and so a group that tolv changes.
    usr systemctl --user set-property --runtime tolv-hang.service CPUWeight=100
    until p=$(pgrep -x tuh); do sleep 0.2; done
    m=$(pgrep -u user -x systemd)
    # The microseconds a command takes.
    us() { s0=$(date +%s%N); "$@" >/dev/null 2>&1; echo $((($(date +%s%N) - s0) / 1000)); }
    pair() { echo $(($(us $T tuh IDLE) + $(us $T tuh NORMAL))); }
    for _ in $(seq "$(cat /opt/tolv/runs)"); do
        echo "note time answering $(pair)"
        kill -STOP "$m"
        echo "note time stopped $(pair)"
        kill -CONT "$m"
        usr mv $s $s.real
        usr systemd-socket-activate -l $s --accept sleep 60 >/dev/null 2>&1 &
        sleep 1
        echo "note time silent $(pair)"
        pkill -f "systemd-socket-activate -l $s"
        usr rm -f $s
        usr mv $s.real $s
    done
    echo "note check $(systemctl --user -M user@.host show -p CPUWeight --value tolv-hang)"
    exit 0
fi
set -eu
root=$(cd "$(dirname "$0")/.." && pwd) runs=5 tolv=$root/build/native/tolv release=12
# shellcheck disable=SC1091 # bench/common.sh, checked on its own
. "$root/bench/common.sh"
bench_options "n=runs t=tolv r=release" "$@"
[ -x "$tolv" ] || { echo "vm-hang: no $tolv; build it first (cmake --build --preset native --target tolv)" >&2; exit 2; }
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
mkdir "$work/in" && echo "$runs" >"$work/in/runs"
TOLV_VM_TIMEOUT=1200 sh "$root/tests/vm/run.sh" "$release" "$tolv" "$0" "$work/in/runs" >"$work/out" || true
grep -q '^note time' "$work/out" || { cat "$work/out"; exit 1; }
sed -n 's/^note check /the unit after the last NORMAL: CPUWeight /p' "$work/out"
median() { sed -n "s/^note time $1 //p" "$work/out" | sort -n | awk '{ v[NR] = $1 } END { printf "%.0f", (v[int((NR + 1) / 2)] + v[int(NR / 2) + 1]) / 2000 }'; }
a=$(median answering) h=$(median stopped) q=$(median silent)
echo "Debian $release, $runs rounds, medians in ms of IDLE then NORMAL"
echo "| answering | stopped | accepts, never answers | stopped/answering | silent/answering |"
echo "|---|---|---|---|---|"
awk -v a="$a" -v h="$h" -v q="$q" 'BEGIN { printf "| %s | %s | %s | %.1f | %.1f |\n", a, h, q, h / a, q / a }'
