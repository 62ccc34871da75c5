#!/bin/sh
# The share of one CPU that IDLE, HIGH and NORMAL (after IDLE) give a process in a stock Debian 12
# and 13, each booted once under qemu by tests/vm/run.sh: two CPU-bound loops pinned to the guest's CPU 0, the
# target's share of their CPU time (utime + stime) over SECONDS, in three set-ups: two apps in
# the user's app.slice; two login sessions of one user; a system service (the target) against a
# login session. Each class is run by this tolv and, in the same boot, by the tolv of commit
# CONTROL, built apart from the work tree as shares.sh builds it.
#
# Usage: bench/vm-shares.sh [-s SECONDS] [-c CONTROL] [-t TOLV] [-r "RELEASE..."]   (as root)
# Inside the guest this same file is the script that run.sh's unit starts.
if [ "$0" = /opt/tolv/run ]; then
    seconds=$(cat /opt/tolv/seconds) n=0
    usr() { runuser -u user -- env XDG_RUNTIME_DIR=/run/user/1000 "$@"; }
    cp /opt/tolv/spin /tmp/tsa && cp /opt/tolv/spin /tmp/tsb && systemctl start user@1000
    # Starts the loop NAME as SETUP has it.
    start() {
        n=$((n + 1))
        case $1 in
        apps) usr systemd-run -q --user --scope --unit=bench-$2-$n taskset -c 0 /tmp/$2 & ;;
        sessions) runuser -l user -c "exec taskset -c 0 /tmp/$2" & ;;
        service) if [ $2 = tsa ]; then systemd-run -q --unit=bench-$2-$n -p Type=exec taskset -c 0 /tmp/$2;
                 else runuser -l user -c "exec taskset -c 0 /tmp/$2" & fi ;;
        esac
        until pgrep -x $2 >/dev/null; do sleep 0.2; done
    }
    ticks() { cut -d' ' -f14,15 /proc/$1/stat | tr ' ' +; }
    # SETUP TOOL CLASS: prints the target's share in per cent.
    share() {
        start $1 tsa </dev/null >/dev/null 2>&1 && start $1 tsb </dev/null >/dev/null 2>&1 && sleep 1
        t=$(pgrep -x tsa) o=$(pgrep -x tsb)
        case $3 in none) ;; NORMAL) $2 tsa IDLE && $2 tsa NORMAL ;; *) $2 tsa $3 ;; esac
        # Settled: a stint under SCHED_IDLE leaves the target behind on the run queue's clock, which it
        # makes up for a second or so after NORMAL.
        sleep 2
        t0=$(($(ticks $t))) o0=$(($(ticks $o))) && sleep $seconds && t1=$(($(ticks $t))) o1=$(($(ticks $o)))
        pkill -x tsa; pkill -x tsb; while pgrep -x 'ts[ab]' >/dev/null; do sleep 0.2; done
        awk -v t=$((t1 - t0)) -v o=$((o1 - o0)) 'BEGIN { printf "%.1f", (t + o > 0 ? 100 * t / (t + o) : 0) }'
    }
    for setup in apps sessions service; do
        before=$(share $setup /opt/tolv/tolv none)
        for build in this control; do
            tool=/opt/tolv/tolv && [ $build = this ] || tool=/opt/tolv/control
            echo "note share $setup $build $before $(share $setup $tool IDLE) $(share $setup $tool HIGH) $(share $setup $tool NORMAL)"
        done
    done
    exit 0
fi
set -eu
root=$(cd "$(dirname "$0")/.." && pwd) seconds=4 control=99f2ab0 tolv=$root/build/native/tolv releases="12 13"
# shellcheck disable=SC1091 # bench/common.sh, checked on its own
. "$root/bench/common.sh"
bench_options "s=seconds c=control t=tolv r=releases" "$@"
[ -x "$tolv" ] || { echo "vm-shares: no $tolv; build it first (cmake --preset native && cmake --build --preset native)" >&2; exit 2; }
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
old=$(sh "$root/bench/control.sh" "$control" "$work")
mkdir "$work/in" && cp "$old" "$work/in/control"
printf 'int main(void) { for (volatile unsigned long i = 0;; i++) ; }\n' >"$work/spin.c" && cc -O2 -o "$work/in/spin" "$work/spin.c"
echo "$seconds" >"$work/in/seconds"
for release in $releases; do
    TOLV_VM_TIMEOUT=1200 sh "$root/tests/vm/run.sh" $release "$tolv" "$0" "$work/in/control" "$work/in/spin" \
        "$work/in/seconds" >"$work/out" || true
    grep -q '^note share' "$work/out" || { cat "$work/out"; exit 1; }
    echo "Debian $release: target's share of the guest's CPU 0 against a second loop, in per cent, $seconds s each; NORMAL is IDLE, then NORMAL"
    echo "| set-up | tolv | before | IDLE | HIGH | NORMAL |"
    echo "|---|---|---|---|---|---|"
    sed -n 's/^note share //p' "$work/out" | while read -r setup build values; do
        [ $build = control ] && build="$control (control)"
        echo "| $setup | $build | $(echo "$values" | sed 's/ / | /g') |"
    done
done
