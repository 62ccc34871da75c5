#!/usr/bin/env bash
# Builds the native tolv, starts a throwaway process under a name of its own,
# and lowers its priority to IDLE, printing its nice value, policy and group
# (its session's autogroup; under systemd also its unit's CPUWeight) before
# and after. The process has a session of its own, so that the change of its
# autogroup leaves this terminal's alone; a unit it shares with this terminal
# (a login session's scope) is set back to NORMAL at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh

tolv_install_packages "${TOLV_BUILD_PACKAGES[@]}"
cmake --preset native >/dev/null
cmake --build --preset native --target tolv

dir=$(mktemp -d)
name="tolv-demo-$$"
target=""
cleanup() {
    [ -n "$target" ] && build/native/tolv "$name" NORMAL >/dev/null 2>&1 && kill "$target" 2>/dev/null || true
    rm -rf "$dir"
}
trap cleanup EXIT
cp "$(command -v sleep)" "$dir/$name"
setsid "$dir/$name" 600 &
target=$!
sleep 0.2

# ps shows no nice for a SCHED_IDLE thread: the stat record's field 19 has it.
state() {
    local unit
    unit=$(ps -o unit= -p "$target" 2>/dev/null | tr -d ' ') || true
    [ -d /run/systemd/system ] && [ -n "$unit" ] && [ "$unit" != - ] &&
        unit=", unit $unit $(systemctl show -p CPUWeight "$unit" 2>/dev/null)" || unit=""
    echo "nice $(cut -d' ' -f19 "/proc/$target/stat"), policy $(ps -o cls= -p "$target" | tr -d ' '), group $(cat "/proc/$target/autogroup")$unit"
}
echo "target: $name (pid $target), before: $(state)"
echo "+ build/native/tolv $name IDLE"
build/native/tolv "$name" IDLE
echo "exit code: $?, after: $(state)"
