#!/usr/bin/env bash
# Installs what the tests need, builds every target (the native port, the 32-bit Windows exe and
# its 64-bit test twin, each with the Wine test driver, in Debian 13 the port for i386 and arm64),
# builds the packages (in Debian 13 the arm64 .deb too) and runs every test; then the same once
# more in a fresh root of the other Debian release, 12 or 13 (scripts/other-release.sh), unless
# TOLV_OTHER_RELEASE=no. Fails if either run fails. Needs root: it makes and mounts Debian roots
# (the other release's, the VM images), so it says so before it builds anything.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh

[ "$(id -u)" -eq 0 ] || { echo "test.sh: needs root, to make and mount the Debian roots the tests run in" >&2 && exit 1; }

tolv_install_packages "${TOLV_TEST_PACKAGES[@]}"
tolv_make_locales "${TOLV_TEST_LOCALES[@]}"
wine_i386=$(bash scripts/wine-i386-dlls.sh)
release=$(. /etc/os-release && echo "$VERSION_ID")
# In Debian 13 the Linux port for 32-bit x86 and for arm64, and the arm64 .deb, whose tests the
# leg's boots run (the amd64 one and the arm64 one): one leg is enough for each, and Debian 13's
# is the one with arm64.
arm64=no
[ "$release" != 13 ] || arm64=yes

# The images that the leg's boots start from are made beside the builds, much of it at the
# mirror's pace; a boot whose image was not made here makes it itself and says why.
log=$(mktemp) images=$(mktemp) image_jobs=()
trap 'kill "${image_jobs[@]}" 2>/dev/null || true; wait; rm -f "$log" "$images"' EXIT
bash scripts/vm-image.sh "$release" >/dev/null 2>>"$images" &
image_jobs+=($!)
if [ $arm64 = yes ]; then
    bash scripts/vm-image.sh 13 arm64 >/dev/null 2>>"$images" &
    image_jobs+=($!)
fi

# The Windows builds come first: the native test run inspects and runs them.
# win64 is not shipped: the Wine tests run it beside the exe, as its twin.
cmake --preset win32
cmake --build --preset win32
cmake --preset win64
cmake --build --preset win64
if [ $arm64 = yes ]; then
    cmake --preset i386
    cmake --build --preset i386
    cmake --preset arm64
    cmake --build --preset arm64
fi
cmake --preset native -DTOLV_WINE_I386="$wine_i386"
cmake --build --preset native
# The packages too, the .deb through its source package: the pkg tests check what it built.
TOLV_ARM64=$arm64 bash scripts/package.sh

status=0
for job in "${image_jobs[@]}"; do
    wait "$job" || { echo "test.sh: an image was not made beside the builds; its boot makes it:" && tail -5 "$images"; }
done
image_jobs=()
ctest --preset native | tee "$log" || status=1
# What the VM boots ran, case by case, the Linux cases from a service and a login among them: CTest
# shows a passing test's output only in its log.
grep -aE '^(case|note) ' build/native/Testing/Temporary/LastTest.log || true
# A skip is a failure but for linux.reuse, the one that tests/README.md names as the machine's to decide.
if grep -E '^\s+[0-9]+ - .* \(Skipped\)$' "$log" | grep -vE ' - linux\.reuse '; then
    echo "test.sh: these tests skipped, which tests/README.md does not allow" && status=1
fi
if [ "${TOLV_OTHER_RELEASE:-yes}" != no ]; then
    bash scripts/other-release.sh || status=1
fi
exit $status
