#!/usr/bin/env bash
# Prints a folder whose i386-windows holds Wine's 32-bit PE DLLs, which wine64's WoW64 mode needs:
# that folder of Debian's libwine:i386 in wine64's version, fetched once into a cache under an apt
# configuration of its own, so that the system's architectures stay as they are.
set -e
. "$(dirname "$0")/deps.sh"
version=$(dpkg-query -W -f='${Version}' wine64)
cache=$TOLV_CACHE_DIR/wine-i386-$version
tolv_use_cache
# One run fetches them; another that shares the cache waits, then finds them fetched.
exec {lock}>"$cache.lock"
flock -x "$lock"
if [ ! -d "$cache/i386-windows" ]; then
    mirror=$(tolv_mirror)
    tmp=$(mktemp -d) && trap 'rm -rf "$tmp"' EXIT
    chmod 755 "$tmp"
    echo "Fetching libwine:i386 $version from $mirror into $cache" >&2
    tolv_private_apt "$tmp" i386 "$(. /etc/os-release && echo "$VERSION_CODENAME")"
    deb=$(tolv_fetch_deb "$tmp" "libwine:i386=$version")
    dpkg -x "$deb" "$tmp/x" && mkdir -p "$tmp/x/part"
    mv "$tmp/x/usr/lib/i386-linux-gnu/wine/i386-windows" "$tmp/x/part/" && mv -T "$tmp/x/part" "$cache"
fi
echo "$cache"
