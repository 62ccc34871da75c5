#!/bin/sh
# control.sh COMMIT DIR: builds the tolv of COMMIT on its own, from its tree exported into
# DIR/control (not the work tree), and prints its path: the control that a benchmark runs beside
# the tolv it measures.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
git -C "$root" archive --prefix=control/ "$1" | tar -x -C "$2"
(cd "$2/control" && cmake --preset native -DTOLV_TESTS=OFF >/dev/null && cmake --build --preset native --target tolv >/dev/null)
echo "$2/control/build/native/tolv"
