#!/usr/bin/env bash
# Checks what a user receives, in a scratch folder. The Debian package as Debian's
# own checks would (from the source package that scripts/package.sh built in DEB_DIR):
# check.sh deb|reprotest DEB_DIR; the zip: check.sh zip BUILD_DIR VERSION;
# check.sh man PAGE, check.sh repro SOURCE_DIR
set -euo pipefail
command -v lintian blhc hardening-check mmdebstrap dpkg-deb unzip groff man >/dev/null || { echo "SKIP: a tool is missing"; exit 77; }
here=$(dirname "$0")
. "$here/../../scripts/deps.sh"
tmp=$(mktemp -d)
tolv_on_exit 'tolv_stop_apart; tolv_remove_tree "${TOLV_FRESH_ROOT:-}"; rm -rf "$tmp"'
if [[ $1 =~ ^(deb|reprotest|zip)$ ]]; then
    compgen -G "$2/*.dsc" >/dev/null || [ -f "$2/tolv.exe" ] || { echo "SKIP: scripts/package.sh did not build $2"; exit 77; }
    [ "$1" = zip ] || cp "$2"/* "$tmp/"
fi
case $1 in
deb)
    # No tag but those that debian/ overrides, each with its reason; info tags are shown, not
    # failed on: Debian 12's lintian finds unused the override of a tag only Debian 13's emits.
    (cd "$tmp" && lintian --pedantic --display-info --fail-on error,warning,pedantic ./*.dsc ./*.changes)
    blhc --debian --line-numbers "$tmp"/*.build
    # Each architecture's package (this machine's and arm64's): every line yes but control flow
    # integrity (glibc's start files carry no CET property, so no Debian program on amd64 has it)
    # and, but on arm64, branch protection, which Debian 13's check asks of amd64 too; stack
    # clash is "unknown": nothing to probe.
    for deb in "$tmp"/tolvenar_*.deb; do
        rm -rf "$tmp/x" && dpkg-deb -x "$deb" "$tmp/x" && echo "${deb##*/}:"
        # shellcheck disable=SC2046 # the options
        hardening-check --nocfprotection $([[ $deb == *_arm64.deb ]] ||
            hardening-check --help | grep -o -- --nobranchprotection) "$tmp/x/usr/bin/tolv"
        dpkg-deb -c "$deb" | awk '{ print $1, $2, $6 }' | diff -u "$here/deb.txt" -
    done ;;
reprotest)
    # Two builds of the source package, the second with all of these changed:
    # the same .deb. The tests, which dh_auto_test runs in the build, are left out.
    cat >"$tmp/run.sh" <<'END'
apt-get build-dep -q -y ./*.dsc >/dev/null
useradd --create-home builder
# For disorderfs, which the user mounts: /dev/fuse open to all, as Debian has it, in this namespace only.
mknod -m 666 /run/fuse c 10 229
mount --bind /run/fuse /dev/fuse
DEB_BUILD_OPTIONS=nocheck reprotest --store-dir=out \
    --vary=-all,+time,+build_path,+user_group,+umask,+locales,+timezone,+fileordering,+home,+num_cpus \
    --vary=user_group.available+=builder:builder ./*.dsc -- null
END
    tolv_in_fresh_root reprotest,faketime,disorderfs,sudo,locales-all "$tmp" run.sh ;;
zip)
    zip=$2/tolvenar-$3-win32.zip
    unzip -Z1 "$zip" | sort | diff -u <(printf '%s\n' LICENSE.txt README.txt tolv.exe) -
    unzip -p "$zip" tolv.exe | cmp - "$2/tolv.exe"
    # Every line of the two texts ends in CRLF.
    if unzip -p "$zip" README.txt LICENSE.txt | grep -nv $'\r$'; then exit 1; fi ;;
repro)
    # The last commit, cloned into two folders and packed one after the other, the second with
    # another umask and in another time zone; this machine's architecture's .deb only.
    git -C "$2" rev-parse >/dev/null 2>&1 || { echo "SKIP: $2 is not a git checkout"; exit 77; }
    git clone -q "$2" "$tmp/one"
    export DEB_BUILD_OPTIONS=nocheck TOLV_ARM64=no
    bash "$tmp/one/scripts/package.sh" >/dev/null
    (umask 077 && git clone -q "$2" "$tmp/two/clone" &&
        TZ=XYZ-14 bash "$tmp/two/clone/scripts/package.sh" >/dev/null)
    cd "$tmp/one/build"
    for f in win32/tolv.exe win32/*.zip deb/*.dsc deb/*.tar.* deb/*.deb; do
        cmp "$f" "$tmp/two/clone/build/$f" || { echo "$f differs between two builds of one commit"; exit 1; }
    done ;;
man)
    out=$(groff -man -ww -z "$2" 2>&1; MANWIDTH=80 man --warnings -l "$2" 2>&1 >/dev/null)
    [ -z "$out" ] || { echo "$out"; exit 1; }
    # In characters: groff may write a hyphen or a bullet as three bytes of UTF-8.
    if MANWIDTH=80 man -l "$2" | LC_ALL=C.UTF-8 grep -E '^.{81}'; then echo "wider than 80 columns"; exit 1; fi
    # It states each class as tests/classes.txt has it, which the Linux tests hold the tool to.
    grep -v '^#' "$here/../classes.txt" | while read -r word class nice _; do
        MANWIDTH=200 man -l "$2" | grep -qE "^ +$word\b.* class $class \([0-9]+\), nice $nice\b" ||
            { echo "tolv.1 does not state $word as class $class, nice $nice"; exit 1; }
    done ;;
esac
