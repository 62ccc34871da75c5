#!/usr/bin/env bash
# Installs what the tests need, builds every target (the native port, and the
# 32-bit Windows exe with its Wine test helpers) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh

tolv_install_packages "${TOLV_TEST_PACKAGES[@]}"
wine_i386=$(tolv_wine_i386_dlls)

# The Windows build comes first: the native test run inspects and runs it.
cmake --preset win32
cmake --build --preset win32
cmake --preset native -DTOLV_WINE_I386="$wine_i386"
cmake --build --preset native
# The packages too: the pkg tests pack the same trees again and inspect them.
bash scripts/package.sh

ctest --preset native
