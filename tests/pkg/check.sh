#!/usr/bin/env bash
# Packs into a scratch folder and checks what a user receives. Usage:
# check.sh deb|zip BUILD_DIR VERSION, check.sh install BUILD_DIR, check.sh man PAGE,
# check.sh repro SOURCE_DIR VERSION
set -euo pipefail
command -v cpack lintian dpkg-deb unzip groff man >/dev/null || { echo "SKIP: a packaging tool is missing"; exit 77; }
[[ $1 =~ ^(man|repro)$ ]] || [ -f "$2/CPackConfig.cmake" ] || { echo "SKIP: $2 is not configured"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
here=$(dirname "$0")
case $1 in
deb)
    (cd "$2" && cpack -B "$tmp" >/dev/null)
    deb=$tmp/tolvenar_$3_$(dpkg --print-architecture).deb
    lintian --fail-on error,warning "$deb"
    [ "$(dpkg-deb -f "$deb" Package Section)" = $'Package: tolvenar\nSection: utils' ]
    dpkg-deb -f "$deb" Depends | grep '^libc6 (>= '
    dpkg-deb -c "$deb" | awk '{ print $1, $2, $6 }' | diff -u "$here/deb.txt" - ;;
zip)
    (cd "$2" && cpack -B "$tmp" >/dev/null)
    zip=$tmp/tolvenar-$3-win32.zip
    unzip -Z1 "$zip" | sort | diff -u <(printf '%s\n' LICENSE.txt README.txt tolv.exe) -
    unzip -p "$zip" tolv.exe | cmp - "$2/tolv.exe"
    # Every line of the two texts ends in CRLF.
    if unzip -p "$zip" README.txt LICENSE.txt | grep -nv $'\r$'; then exit 1; fi
    # Its list of classes states each as tests/classes.txt has it.
    grep -v '^#' "$here/../classes.txt" | while read -r word class _; do
        unzip -p "$zip" README.txt | grep -qE "^ +$word +$((class)) +\($class[),]" ||
            { echo "README.txt does not state $word as class $class"; exit 1; }
    done ;;
install)
    cmake --install "$2" --prefix "$tmp" >/dev/null
    (cd "$tmp" && find . -type f | sort) | diff -u "$here/install.txt" - ;;
repro)
    # The last commit, cloned into two folders and packed one after the other,
    # the second with another umask and in another time zone.
    git -C "$2" rev-parse >/dev/null 2>&1 || { echo "SKIP: $2 is not a git checkout"; exit 77; }
    git clone -q "$2" "$tmp/one"
    bash "$tmp/one/scripts/package.sh" >/dev/null
    (umask 077 && git clone -q "$2" "$tmp/two/clone" && TZ=XYZ-14 bash "$tmp/two/clone/scripts/package.sh" >/dev/null)
    for f in win32/tolv.exe "win32/tolvenar-$3-win32.zip" "native/tolvenar_$3_$(dpkg --print-architecture).deb"; do
        cmp "$tmp/one/build/$f" "$tmp/two/clone/build/$f" || { echo "$f differs between two builds of one commit"; exit 1; }
    done ;;
man)
    out=$(groff -man -ww -z "$2" 2>&1; MANWIDTH=80 man --warnings -l "$2" 2>&1 >/dev/null)
    [ -z "$out" ] || { echo "$out"; exit 1; }
    # In characters: groff may write a hyphen or a bullet as three bytes of UTF-8.
    if MANWIDTH=80 man -l "$2" | LC_ALL=C.UTF-8 grep -E '^.{81}'; then echo "wider than 80 columns"; exit 1; fi
    # It states each class as tests/classes.txt has it, which the Linux tests hold the tool to.
    grep -v '^#' "$here/../classes.txt" | while read -r word class nice; do
        MANWIDTH=200 man -l "$2" | grep -qE "^ +$word\b.* class $class \([0-9]+\), nice $nice\b" ||
            { echo "tolv.1 does not state $word as class $class, nice $nice"; exit 1; }
    done ;;
esac
