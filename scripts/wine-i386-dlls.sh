#!/usr/bin/env bash
# Prints a folder whose i386-windows holds Wine's 32-bit PE DLLs, which wine64's WoW64 mode needs:
# that folder of Debian's libwine:i386 in wine64's version, fetched once into a cache under an apt
# configuration of its own, so that the system's architectures stay as they are.
set -e
. "$(dirname "$0")/deps.sh"
version=$(dpkg-query -W -f='${Version}' wine64)
cache=$TOLV_CACHE_DIR/wine-i386-$version
if [ ! -d "$cache/i386-windows" ]; then
    mirror=$(tolv_mirror)
    tmp=$(mktemp -d) && trap 'rm -rf "$tmp"' EXIT
    mkdir -p "$tmp/lists/partial" "$tmp/cache/archives/partial" && chown -R _apt "$tmp" 2>/dev/null || true
    echo "deb [arch=i386] $mirror $(. /etc/os-release && echo "$VERSION_CODENAME") main" >"$tmp/sources.list"
    set -- -qq -o APT::Architectures=i386 -o APT::Architecture=i386 -o Dir::Etc::sourcelist="$tmp/sources.list" \
        -o Dir::Etc::sourceparts=/dev/null -o Dir::State::Lists="$tmp/lists" -o Dir::Cache="$tmp/cache" \
        -o Dir::State::status=/dev/null
    echo "Fetching libwine:i386 $version from $mirror into $cache" >&2
    apt-get "$@" update >&2 && (cd "$tmp" && apt-get "$@" download "libwine:i386=$version" >&2)
    dpkg -x "$tmp"/libwine_*.deb "$tmp/x" && mkdir -p "$tmp/x/part" "${cache%/*}"
    mv "$tmp/x/usr/lib/i386-linux-gnu/wine/i386-windows" "$tmp/x/part/" && mv -T "$tmp/x/part" "$cache"
fi
echo "$cache"
