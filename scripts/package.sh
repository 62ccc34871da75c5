#!/usr/bin/env bash
# Builds the two packages, the Debian package from the native build and the
# Windows zip from the win32 one, and prints their paths.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh

tolv_install_packages "${TOLV_PACKAGE_PACKAGES[@]}"
# The .deb records the modes of the folders and files that CPack creates.
umask 022

# Builds only what the package holds (cpack itself builds nothing with Ninja),
# then packs it. CPack's errors go to stderr.
package() {
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1" --target "${@:2}"
    (cd "build/$1" && cpack >/dev/null)
}
package win32 tolv
package native tolv tolv_deb_files

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/native/CMakeCache.txt)
ls -d "$PWD/build/native/tolvenar_${version}_$(dpkg --print-architecture).deb" \
    "$PWD/build/win32/tolvenar-${version}-win32.zip"
