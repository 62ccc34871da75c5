#!/usr/bin/env bash
# Builds the two packages and prints their paths: the Windows zip from the win32 build tree, and the
# Debian package as Debian builds it. The last commit, by git archive, is the upstream tarball;
# debian/ beside it makes the source package, in format 3.0 (quilt); that builds from its .dsc in a
# fresh root of this machine's Debian release, with the build dependencies it names, as root, so
# that dh_auto_test can run the Linux tests in PID namespaces of their own (DEB_BUILD_OPTIONS is
# passed on: nocheck builds no tests). build/deb gets the source package, the .deb, its .buildinfo
# and .changes, and the build log, for this machine's architecture and arm64 (TOLV_ARM64=no: this
# machine's only). Needs root, to make and mount that root.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh

[ "$(id -u)" -eq 0 ] || { echo "package.sh: needs root, to make the root the package builds in" >&2 && exit 1; }
tolv_install_packages "${TOLV_PACKAGE_PACKAGES[@]}"
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target tolv_zip

version=$(dpkg-parsechangelog -S Version)
upstream=${version%-*}
grep -q "^project(Tolvenar VERSION $upstream " CMakeLists.txt ||
    { echo "package.sh: debian/changelog's $version is not of the version that CMakeLists.txt names" >&2 && exit 1; }
out=$PWD/build/deb
rm -rf "$out"
mkdir -p "$out"
git archive --prefix="tolvenar-$upstream/" HEAD ':(exclude)debian' | gzip -9n >"$out/tolvenar_$upstream.orig.tar.gz"
tar -xzf "$out/tolvenar_$upstream.orig.tar.gz" -C "$out"
git archive HEAD debian | tar -x -C "$out/tolvenar-$upstream"
(cd "$out" && dpkg-source --build "tolvenar-$upstream" >/dev/null && rm -r "tolvenar-$upstream")

arch=$(dpkg --print-architecture)
# This machine's architecture's package, then arm64's, cross-built as Debian's cross builds are (the
# cross and nocheck profiles): its tests run in the arm64 boot of tests/vm.
cat >"$out/build.sh" <<END
# build HOST OPTION...: the package for HOST, with dpkg-buildpackage's OPTIONs.
build() {
    log=tolvenar_${version}_\$1.build && shift
    dpkg-source -x tolvenar_$version.dsc tree >/dev/null
    (cd tree && dpkg-buildpackage "\$@" -b -us -uc) >\$log 2>&1 || { tail -50 \$log && exit 1; }
    rm -r tree
}
apt-get build-dep -y -q ./tolvenar_$version.dsc >/dev/null
DEB_BUILD_OPTIONS='${DEB_BUILD_OPTIONS:-}' && export DEB_BUILD_OPTIONS && build $arch
[ "${TOLV_ARM64:-yes}" != no ] || { rm build.sh && exit; }
dpkg --add-architecture arm64
apt-get update -q >/dev/null
apt-get build-dep -y -q -a arm64 -P cross,nocheck ./tolvenar_$version.dsc >/dev/null
# What sbuild adds to a cross build: the host's C and C++ libraries, for dpkg-shlibdeps.
apt-get install -y -q libc6-dev:arm64 libstdc++6:arm64 >/dev/null
export DEB_BUILD_OPTIONS=nocheck && build arm64 -a arm64 -Pcross,nocheck
rm build.sh
END
tolv_on_exit 'tolv_stop_apart; tolv_remove_tree "${TOLV_FRESH_ROOT:-}"'
cross=,crossbuild-essential-arm64 debs=("$out/tolvenar_${version}_$arch.deb" "$out/tolvenar_${version}_arm64.deb")
[ "${TOLV_ARM64:-yes}" != no ] || cross='' debs=("${debs[0]}")
tolv_in_fresh_root "build-essential$cross" "$out" build.sh >&2
ls -d "${debs[@]}" "$PWD/build/win32/tolvenar-$upstream-win32.zip"
