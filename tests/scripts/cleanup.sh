#!/bin/bash
# cleanup.sh (root): the scripts that make Debian roots, killed while a stand-in mmdebstrap has /dev/shm bound
# into its root as the real one has, leave /dev/shm's files and no mount or process, and of the cache's folders
# only what a live run holds; a leg whose pivot_root (the stand-in, failing) fails runs its command nowhere; the
# test command stops at once for a user; no exit trap acts on what the environment names; a cache that another
# user owns is refused, and _apt owns none of the folder that root extracts in.
[ "$(id -u)" = 0 ] || { echo "SKIP: needs root, to mount"; exit 77; }
[ "${1:-}" = apart ] || exec unshare --mount --propagation private bash "$0" apart
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
dir=$(mktemp -d)
trap 'umount --lazy "$dir" && rmdir "$dir"' EXIT
mount -t tmpfs tmpfs "$dir"
mount -t tmpfs tmpfs /dev/shm
mkdir -p "$dir/bin" "$dir/upper/tolvenar" "$dir/work"
mount -t overlay overlay -o "lowerdir=/root,upperdir=$dir/upper,workdir=$dir/work" /root
for tool in apt-get apt-cache dpkg cpio zstd; do
    ln -s /bin/true "$dir/bin/$tool"
done
ln -s mmdebstrap "$dir/bin/pivot_root"
install /dev/stdin "$dir/bin/mmdebstrap" <<'STANDIN'
#!/bin/sh
[ "${0##*/}" != pivot_root ] || { touch "$TOLV_CACHE/pivot_root"; exit 1; }
shift $(($# - 2))
mkdir -p "$1/dev/shm" "$1/proc" "$1/sys" "$1/run" "$1/etc"
mount --bind /dev/shm "$1/dev/shm"
touch "$TOLV_CACHE/mounted"
sleep "$STALL"
STANDIN
fail() { echo "FAIL: $*"; exit 1; }
touch /dev/shm/marker
mkdir -p "$dir/vm-image.sh/vm-tmp.left" "$dir/vm-image.sh/vm-tmp.held"
exec {held}<"$dir/vm-image.sh/vm-tmp.held"
flock -s $held
for script in other-release.sh vm-image.sh; do
    PATH=$dir/bin:$PATH TOLV_CACHE=$dir/$script STALL=60 bash "$scripts/$script" 13 2>"$dir/$script.log" &
    timeout 30 sh -c "until [ -e '$dir/$script/mounted' ]; do sleep 0.1; done" || fail "$script: no mmdebstrap ran"
    kill -TERM $!
    wait $!
    [ -e /dev/shm/marker ] || fail "$script, killed, removed the files in /dev/shm"
    ! findmnt -rn -o TARGET | grep "^$dir/$script" || fail "$script, killed, left these mounts in its cache"
    ! pgrep -a -f "$dir/$script/" || fail "$script, killed, left these running"
done
[ ! -e "$dir/vm-image.sh/vm-tmp.left" ] && [ -e "$dir/vm-image.sh/vm-tmp.held" ] || fail "vm-image.sh kept a killed run's folder or took a live run's"
mkdir -m 755 "$dir/theirs" && chown 65534 "$dir/theirs"
TOLV_CACHE=$dir/theirs bash "$scripts/wine-i386-dlls.sh" 2>&1 | grep -q "refused as the cache" || fail "took a user's cache"
(PATH=$dir/bin:$PATH && . "$scripts/deps.sh" && tolv_private_apt "$dir/apt" amd64 trixie)
! runuser -u _apt -- test -w "$dir/apt" || fail "_apt can write the folder that root extracts in"
unshare --user bash "$scripts/test.sh" 2>&1 | grep -q "needs root" || fail "test.sh, run as a user, went on"
PATH=$dir/bin:$PATH TOLV_CACHE=$dir/leg STALL=0 bash "$scripts/other-release.sh" touch "$dir/ran" && fail "other-release.sh: exit 0"
[ -e "$dir/leg/pivot_root" ] || fail "other-release.sh never reached pivot_root"
[ ! -e "$dir/ran" ] || fail "other-release.sh ran its command where pivot_root failed"
sleep 60 &
TOLV_FRESH_ROOT=$dir/bin tolv_apart=$! bash "$scripts/../tests/pkg/check.sh" man "$dir/none" >/dev/null
kill $! || fail "check.sh, failing, killed the process that an inherited tolv_apart named"
[ -d "$dir/bin" ] || fail "check.sh, failing, removed the folder an inherited TOLV_FRESH_ROOT named"
