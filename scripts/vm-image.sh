#!/usr/bin/env bash
# vm-image.sh RELEASE [ARCH]: prints two lines, the kernel and the initramfs of a stock Debian RELEASE
# (12 or 13) of ARCH (amd64, or arm64 for 13) that boots in qemu with rdinit=/lib/systemd/systemd, its
# whole root file system in the initramfs (no disk). The kernel is taken out of Debian's cloud kernel
# package; the root is made by mmdebstrap, with a user `user` (uid 1000, no password). One image of
# each release and architecture serves every boot of tests/vm/run.sh, so a cold run makes it once:
# beside the usual packages, what the Linux cases and autopkgtest need (tests/vm/linux.sh), and in
# amd64's what the Wine guest needs (tests/wine/guest.sh, with the test locales made) and, in 13,
# the port built for 32-bit x86. Neither Wine nor i386 adds a unit, so the system stays a stock
# one. Each is kept in a cache named by the release, the architecture, this script's version and
# the package list, and fetched under an apt configuration of its own, so the host stays as it
# is. Making them needs root (mmdebstrap's root mode, the archive's owners); arm64's, qemu-user and
# Linux 6.7 or later (tolv_run_arm64).
set -e
. "$(dirname "$0")/deps.sh"
release=${1:-} arch=${2:-amd64}
case $release-$arch in
12-amd64) suite=bookworm ;;
13-amd64 | 13-arm64) suite=trixie ;;
*) echo "usage: vm-image.sh 12|13 [amd64|arm64 (13 only)]" >&2 && exit 2 ;;
esac
version=1
packages="systemd,systemd-sysv,dbus,dbus-user-session,libpam-systemd,libsystemd0,polkitd,procps,util-linux"
tools=",python3,strace,valgrind,bash-completion,mount,autopkgtest,dpkg-dev,g++"
locales=''
if [ "$arch" = amd64 ]; then
    # In this machine's release, the Wine of the i386 DLLs that the Wine guest is given.
    wine=wine64
    if [ "$(. /etc/os-release && echo "$VERSION_ID")" = "$release" ] && dpkg-query -W wine64 >/dev/null 2>&1; then
        wine=wine64=$(dpkg-query -W -f='${Version}' wine64)
    fi
    packages+=",$wine,binutils,locales$tools"
    architectures=amd64
    # In 13, what the port built for 32-bit x86 needs, from the release's i386 architecture beside
    # amd64 (valgrind, which the sanitizers case runs it under, needs the C library's symbols).
    if [ "$release" = 13 ]; then
        packages+=",libc6:i386,libc6-dbg:i386,libgcc-s1:i386,libstdc++6:i386,libasan8:i386,libubsan1:i386"
        architectures=amd64,i386
    fi
    # The locales made, as localedef names them (LANGUAGE_TERRITORY alone is UTF-8), are part of the key.
    for l in "${TOLV_TEST_LOCALES[@]}"; do
        [[ $l == *.* ]] || l+=.UTF-8
        locales+=" $l"
    done
    name=vm-debian$release make=tolv_run_apart
else
    packages+=$tools
    name=vm-debian$release-$arch architectures=$arch make=tolv_run_arm64
fi
key=$(printf '%s %s%s' "$version" "$packages" "$locales" | sha256sum | cut -c1-12)
cache=$TOLV_CACHE_DIR/$name-$key
tolv_use_cache
# One run makes the image; another that shares the cache waits, then finds it made.
exec {lock}>"$cache.lock"
flock -x "$lock"
if [ ! -f "$cache/initrd.cpio.zst" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "vm-image: making the image needs root" >&2 && exit 1; }
    for tool in mmdebstrap cpio zstd apt-get dpkg; do
        command -v $tool >/dev/null || { echo "vm-image: $tool is needed" >&2; exit 1; }
    done
    mirror=$(tolv_mirror)
    # Whatever ends the script, mmdebstrap ends first; then what it made goes.
    tmp=''
    tolv_on_exit 'tolv_stop_apart; tolv_remove_tree "$tmp"'
    tolv_cache_temp tmp vm-tmp
    chmod 755 "$tmp"
    echo "Fetching Debian $release's $arch root file system and cloud kernel from $mirror into $cache" >&2
    # No documentation, manual pages or locales: they only make the archive larger.
    $make mmdebstrap --quiet --variant=minbase --architectures="$architectures" --include="$packages" \
        --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/doc/*' \
        --dpkgopt='path-exclude=/usr/share/locale/*' --dpkgopt='path-exclude=/usr/share/info/*' \
        --customize-hook='chroot "$1" useradd -m -u 1000 -s /bin/bash user' \
        --customize-hook='chroot "$1" passwd -d user >/dev/null' \
        --customize-hook="for l in $locales; do chroot \"\$1\" localedef -c -i \${l%.*} -f \${l#*.} \$l; done" \
        --customize-hook='rm -rf "$1"/var/cache/apt/* "$1"/var/lib/apt/lists/*' \
        "$suite" "$tmp/root" "$mirror" >&2
    tolv_private_apt "$tmp" "$arch" "$suite"
    # The meta package names the versioned image it stands for.
    image=$(apt-cache "${TOLV_APT[@]}" show "linux-image-cloud-$arch" | sed -nE 's/^Depends: *(linux-image-[^ ,]+).*/\1/p' | head -1)
    deb=$(tolv_fetch_deb "$tmp" "$image")
    dpkg -x "$deb" "$tmp/kernel"
    (cd "$tmp/root" && find . | cpio --quiet -o -H newc | zstd -q -T0 -10 >"$tmp/initrd.cpio.zst")
    mkdir "$tmp/out"
    mv "$tmp"/kernel/boot/vmlinuz-* "$tmp/out/vmlinuz"
    mv "$tmp/initrd.cpio.zst" "$tmp/out/"
    tolv_remove_tree "$cache"
    mv -T "$tmp/out" "$cache"
fi
# The kernel takes an uncompressed archive appended to this one (tests/vm/run.sh) only at an offset that is a
# multiple of 4, and skips the zeros up to it; an image made before this line gets them here.
truncate -s %4 "$cache/initrd.cpio.zst"
echo "$cache/vmlinuz"
echo "$cache/initrd.cpio.zst"
