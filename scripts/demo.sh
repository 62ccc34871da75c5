#!/usr/bin/env bash
# Builds the native tolv, starts a throwaway process under a name of its own,
# and lowers its priority to IDLE, printing the nice value before and after.
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
    [ -n "$target" ] && kill "$target" 2>/dev/null || true
    rm -rf "$dir"
}
trap cleanup EXIT
cp "$(command -v sleep)" "$dir/$name"
"$dir/$name" 600 &
target=$!
sleep 0.2

echo "target: $name (pid $target), nice before: $(ps -o ni= -p "$target" | tr -d ' ')"
echo "+ build/native/tolv $name IDLE"
build/native/tolv "$name" IDLE
echo "exit code: $?, nice after: $(ps -o ni= -p "$target" | tr -d ' ')"
