# Sourced by the other scripts: installs the Debian packages they need, and runs the steps that
# mount as root so that no mount of theirs outlives them or lies where a cleanup removes files.
# Usage: tolv_install_packages PACKAGE...

# What the exit traps end and remove is only ever what this script set here, never what the
# environment named.
tolv_apart=''
TOLV_FRESH_ROOT=''

tolv_install_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Runs COMMAND in a mount and PID namespace of its own and returns its code: what it mounts (the
# host's /dev and /sys in a root it makes) is never seen here and ends with it. In the background,
# so that a signal's trap runs at once and tolv_stop_apart can end it.
tolv_run_apart() {
    local status=0
    unshare --mount --pid --fork --kill-child --propagation private "$@" &
    tolv_apart=$!
    wait "$tolv_apart" || status=$?
    tolv_apart=
    return $status
}

# Runs COMMAND as tolv_run_apart does, in a user namespace of its own too, where every user and
# group ID is itself and the kernel runs arm64 programs through qemu-user: a binfmt_misc of that
# namespace's own (Linux 6.7 and later), so the host's stays as it is. mmdebstrap makes an arm64
# root there, running its packages' scripts.
tolv_run_arm64() {
    local status=0 qemu
    qemu=$(command -v qemu-aarch64-static || command -v qemu-aarch64) && ! readelf -l "$qemu" | grep -q INTERP ||
        { echo "tolv_run_arm64: no static qemu-aarch64 (package qemu-user-static)" >&2 && return 1; }
    # shellcheck disable=SC2016 # run in the namespace, once its IDs are mapped
    unshare --user --mount --pid --fork --kill-child --propagation private bash -c '
        until grep -q . /proc/self/uid_map; do sleep 0.05; done
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
        magic="\x7f\x45\x4c\x46\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00"
        mask="\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff"
        printf %s ":aarch64:M::$magic:$mask:$0:F" >/proc/sys/fs/binfmt_misc/register
        exec "$@"' "$qemu" "$@" &
    tolv_apart=$!
    while [ "$(readlink "/proc/$tolv_apart/ns/user")" = "$(readlink /proc/self/ns/user)" ]; do sleep 0.05; done
    echo "0 0 4294967295" >"/proc/$tolv_apart/uid_map" && echo "0 0 4294967295" >"/proc/$tolv_apart/gid_map" ||
        { tolv_stop_apart && return 1; }
    wait "$tolv_apart" || status=$?
    tolv_apart=
    return $status
}

# Ends what tolv_run_apart started, if it still runs, and waits until every process of it has gone.
tolv_stop_apart() {
    [ -n "${tolv_apart:-}" ] || return 0
    # unshare holds SIGTERM back; its child is the namespace's first process, and once that is
    # killed the kernel ends the rest before unshare's wait returns (unshare then says "sigprocmask
    # unblock failed": it cannot pass SIGKILL on). No child yet: unshare alone.
    pkill -KILL -P "$tolv_apart" || kill -KILL "$tolv_apart" 2>/dev/null || true
    wait "$tolv_apart" 2>/dev/null || true
    tolv_apart=
}

# Removes the folder DIR (none: nothing): first what is mounted below it, deepest first, then the
# files, never across into another file system. A mount that stays stops it, files kept.
tolv_remove_tree() {
    local dir target
    dir=$(realpath -e "${1:-}" 2>/dev/null) || return 0
    while read -r target; do
        # findmnt -r writes a blank as \x20.
        target=$(printf '%b' "$target")
        [[ $target != "$dir"/* ]] || umount -l "$target" || return
    done < <(findmnt -rn -o TARGET | LC_ALL=C sort -r)
    rm -rf --one-file-system "$dir"
}

# Runs CLEANUP on the way out, also when HUP, INT or TERM ends the script (then at once, where it
# waits in tolv_run_apart), each of its commands even where one before it failed.
tolv_on_exit() {
    # shellcheck disable=SC2064 # the caller's command is expanded when it runs, not here
    trap "set +e; $1" EXIT
    trap 'exit 129' HUP
    trap 'exit 130' INT
    trap 'exit 143' TERM
}

# Makes the locales given as LANGUAGE_TERRITORY (UTF-8) or LANGUAGE_TERRITORY.CHARSET where they
# are missing; -c, since a charset may lack some of the locale's own characters.
tolv_make_locales() {
    local l charset sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    for l in "$@"; do
        charset=UTF-8
        [ "${l#*.}" = "$l" ] || charset=${l#*.}
        locale -a | grep -qix "${l%%.*}.$(printf %s "$charset" | tr -d -)" ||
            $sudo localedef -c -i "${l%%.*}" -f "$charset" "${l%%.*}.$charset" 2>/dev/null
    done
}

# What the scripts fetch is kept here, so that a second run fetches nothing.
TOLV_CACHE_DIR=${TOLV_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tolvenar}

# Makes the cache where it is missing. Root runs what it holds (the other release's root, Wine's
# DLLs, the .debs), so a cache that another user owns or can write is refused, whoever runs.
tolv_use_cache() {
    local owner mode
    mkdir -p "$TOLV_CACHE_DIR"
    read -r owner mode < <(stat -c '%u %a' "$TOLV_CACHE_DIR")
    if [ -L "$TOLV_CACHE_DIR" ] || [ "$owner" != "$(id -u)" ] || (((8#$mode & 8#022) != 0)); then
        echo "$TOLV_CACHE_DIR: refused as the cache: it is a link, or another user owns or can write it" >&2
        exit 1
    fi
}

# Makes a folder NAME.XXXXXX in the cache and sets the variable VAR to it; this run, and what it
# starts, hold a lock on it for as long as they live. First the folders of that kind that no live
# run holds go, which a killed run left (whole Debian roots among them), all under the cache's
# lock, so that no run takes another's new folder for a leftover. Usage: tolv_cache_temp VAR NAME
tolv_cache_temp() {
    local lock fd old dir
    tolv_use_cache
    exec {lock}>"$TOLV_CACHE_DIR/temp.lock"
    flock -x "$lock"
    for old in "$TOLV_CACHE_DIR/$2".*; do
        [ -d "$old" ] && exec {fd}<"$old" || continue
        ! flock -n -x "$fd" || tolv_remove_tree "$old"
        exec {fd}<&-
    done
    dir=$(mktemp -d "$TOLV_CACHE_DIR/$2.XXXXXX")
    exec {fd}<"$dir"
    flock -s "$fd"
    exec {lock}>&-
    printf -v "$1" %s "$dir"
}

# Prints the Debian mirror that this machine's apt uses.
tolv_mirror() {
    sed -nE 's/^URIs: *([^ ]+).*/\1/p; s/^deb +(\[[^]]*\] +)?([^ ]+).*/\2/p' /etc/apt/sources.list \
        /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v security | head -1 || true
}

# Runs COMMAND with the folder ROOT as / in a mount and PID namespace of its own (pivot_root: a
# chroot would be refused user namespaces, and a private mount of /), with a /proc of its own, the
# host's /sys, /dev and resolver, /etc/hosts and /etc/mtab where the root has none (as one that
# mmdebstrap made), and a clean environment; returns its code. PREPARE, a shell
# command, runs first in the namespace, with $r the root: it may mount one there (an overlay, say).
# Nothing runs unless / is then ROOT, which the file .tolv-root in it marks: a failed pivot_root
# would leave the host's files there. Usage: tolv_enter_root ROOT PREPARE COMMAND...
tolv_enter_root() {
    # shellcheck disable=SC2016 # run in the namespace, with its own arguments
    tolv_run_apart bash -euc '
        r=$1
        eval "$2"
        mountpoint -q "$r" || mount --bind "$r" "$r"
        mount -t proc proc "$r/proc"
        mount --rbind /sys "$r/sys"
        mount --rbind /dev "$r/dev"
        mount -t tmpfs -o mode=755 tmpfs "$r/run"
        mkdir -p "$r/.host"
        cp -L /etc/resolv.conf "$r/etc/resolv.conf"
        [ -e "$r/etc/hosts" ] || printf "127.0.0.1 localhost %s\n" "$(hostname)" >"$r/etc/hosts"
        [ -e "$r/etc/mtab" ] || ln -s ../proc/self/mounts "$r/etc/mtab"
        touch "$r/.tolv-root"
        cd "$r"
        pivot_root . .host
        umount -l /.host
        rmdir /.host
        [ -e /.tolv-root ] && rm /.tolv-root || { echo "tolv_enter_root: / is not the root" >&2 && exit 1; }
        exec env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 TERM=dumb "${@:3}"
    ' root "$@"
}

# Runs the shell script SCRIPT of the folder DIR in a fresh root of this machine's Debian release,
# mmdebstrap's buildd variant with the packages INCLUDE (comma-separated), as root, in /work, a copy
# of DIR that is copied back afterwards; returns its code. The root lies in TOLV_FRESH_ROOT while
# it runs (for the caller's exit trap) and goes after; the packages fetched stay in the cache.
# Usage: tolv_in_fresh_root INCLUDE DIR SCRIPT
tolv_in_fresh_root() {
    local debs status=0
    debs=$TOLV_CACHE_DIR/debs-$(. /etc/os-release && echo "$VERSION_CODENAME")
    tolv_cache_temp TOLV_FRESH_ROOT fresh
    mkdir -p "$debs"
    # mount, for tolv_enter_root's umount there: Debian 13's buildd variant has none.
    # shellcheck disable=SC2016 # $1 is the root, in mmdebstrap's hooks
    tolv_run_apart mmdebstrap --quiet --variant=buildd --include="mount,$1" \
        --aptopt='APT::Install-Recommends "false"' --skip=download/empty --skip=essential/unlink --skip=cleanup/apt/lists \
        --setup-hook='mkdir -p "$1/var/cache/apt/archives"' --setup-hook="sync-in '$debs' /var/cache/apt/archives" \
        "$(. /etc/os-release && echo "$VERSION_CODENAME")" "$TOLV_FRESH_ROOT/root" "$(tolv_mirror)"
    cp -a "$2" "$TOLV_FRESH_ROOT/root/work"
    # shellcheck disable=SC2016 # $0 is the script, in the root
    tolv_enter_root "$TOLV_FRESH_ROOT/root" : sh -ec 'cd /work && exec sh -e "./$0"' "$3" || status=$?
    cp -a "$TOLV_FRESH_ROOT/root/work/." "$2"
    cp -n "$TOLV_FRESH_ROOT/root/var/cache/apt/archives/"*.deb "$debs/" 2>/dev/null || true
    tolv_remove_tree "$TOLV_FRESH_ROOT"
    return $status
}

# Sets TOLV_APT to the options of an apt of its own in the folder DIR, for the ARCH packages of the
# Debian SUITE on this machine's mirror, and fetches its lists, so that the system's architectures
# and lists stay as they are. apt downloads as _apt, to contain a hostile mirror: _apt owns only
# the folders it downloads into, never one that root extracts or moves files in.
# Usage: tolv_private_apt DIR ARCH SUITE
tolv_private_apt() {
    mkdir -p "$1/lists/partial" "$1/cache/archives/partial" "$1/download"
    chown _apt "$1/lists/partial" "$1/cache/archives/partial" "$1/download" 2>/dev/null || true
    echo "deb [arch=$2] $(tolv_mirror) $3 main" >"$1/sources.list"
    TOLV_APT=(-qq -o APT::Architectures="$2" -o APT::Architecture="$2" -o Dir::Etc::sourcelist="$1/sources.list"
        -o Dir::Etc::sourceparts=/dev/null -o Dir::State::Lists="$1/lists" -o Dir::Cache="$1/cache"
        -o Dir::State::status=/dev/null)
    apt-get "${TOLV_APT[@]}" update >&2
}

# Downloads PACKAGE (NAME or NAME=VERSION) with the apt that tolv_private_apt set up in DIR and
# prints the path of a copy in DIR that only root can write, once its SHA256 is the one of the
# lists that apt verified: what _apt can still change in its folder is never what root reads.
# Usage: tolv_fetch_deb DIR PACKAGE
tolv_fetch_deb() {
    local sum debs
    (cd "$1/download" && apt-get "${TOLV_APT[@]}" download "$2" >&2)
    sum=$(apt-cache "${TOLV_APT[@]}" show --no-all-versions "$2" | sed -n 's/^SHA256: //p')
    debs=("$1/download/"*.deb)
    [ ${#debs[@]} = 1 ] && cat "${debs[0]}" >"$1/fetched.deb" && [ -n "$sum" ] &&
        echo "$sum  $1/fetched.deb" | sha256sum -c --quiet >&2 ||
        { echo "tolv_fetch_deb: $2 is not the package that apt's lists name" >&2 && return 1; }
    echo "$1/fetched.deb"
}

# Enough to build the native port (the configure step also wants GoogleTest).
TOLV_BUILD_PACKAGES=(cmake ninja-build clang libgtest-dev libgmock-dev)

# Enough to build both packages: the 32-bit exe and Python to write the zip;
# git for the upstream tarball, dpkg-dev for the source package, and mmdebstrap
# for the root that builds the .deb (which fetches the build dependencies).
TOLV_PACKAGE_PACKAGES=(cmake ninja-build g++-mingw-w64-i686 python3 git dpkg-dev mmdebstrap)

# Everything the whole test suite needs: the cross compilers for the Windows exe and its 64-bit
# test twin, Wine to run them, PE tools, sanitizer runtimes, valgrind, what the integration tests
# call (bash-completion loads the completion there), the tools that build and check the packages
# (lintian, blhc, devscripts' hardening-check), qemu with what makes the Debian images that the VM
# tests boot (an arm64 one too: qemu-user runs its packages' scripts), and the cross compilers of
# the Linux ports they test. Each name is one that Debian 12 and 13 both have (libclang-rt-dev is
# clang's own version).
TOLV_TEST_PACKAGES=("${TOLV_BUILD_PACKAGES[@]}"
    libclang-rt-dev clang-format valgrind strace procps util-linux mount python3
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 icoutils imagemagick python3-pefile binutils
    git dpkg-dev mmdebstrap lintian blhc devscripts groff man-db unzip locales bash-completion
    qemu-system-x86 cpio zstd gzip g++-i686-linux-gnu
    qemu-system-arm qemu-user-static arch-test g++-aarch64-linux-gnu)

# The Wine tests run the exe in the code pages these give: 932, 936, 949 and UTF-8 (65001, as Wine
# gives for hi_IN); and 932 where file names are KOI8-R, whose Cyrillic takes one byte to 932's two,
# so that a name of 259 bytes in 932 is a file name that Linux can hold (tests/wine/cases.txt).
TOLV_TEST_LOCALES=(ja_JP zh_CN ko_KR hi_IN ja_JP.KOI8-R)
