#!/usr/bin/env bash
# other-release.sh [COMMAND...]: runs COMMAND (the test command, scripts/test.sh, where none is
# given) in the project's folder in a fresh root of the other Debian release (on Debian 12, a
# Debian 13; on Debian 13, a Debian 12), with the last commit cloned into it: a root that
# mmdebstrap made with every package the tests need, kept in the cache beside the Wine DLLs and
# the VM images and laid under an overlay that is thrown away after the run, so that each run
# starts from the same fresh root and a second run fetches nothing. The root is the root of a
# mount and PID namespace of its own (pivot_root; a chroot would be refused user namespaces),
# with the host's /sys and /dev and the cache; what the tests fetch there lands in the cache too.
# Needs root. Prints what the command prints there, and exits with its code.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh

[ "$(id -u)" -eq 0 ] || { echo "other-release: needs root, to make and mount the root it runs in" >&2 && exit 1; }
case $(. /etc/os-release && echo "$VERSION_ID") in
12) release=13 suite=trixie ;;
13) release=12 suite=bookworm ;;
*) echo "other-release: this is neither Debian 12 nor 13" >&2 && exit 1 ;;
esac
cache=$TOLV_CACHE_DIR
version=1
packages=$(printf '%s,' "${TOLV_TEST_PACKAGES[@]}")
key=$(printf '%s %s' "$version" "$packages" | sha256sum | cut -c1-12)
lower=$cache/root-debian$release-$key
tolv_use_cache
# Whatever ends the script, the step still running ends first; then what it made goes.
tmp='' work=''
tolv_on_exit 'tolv_stop_apart; tolv_remove_tree "$tmp"; tolv_remove_tree "$work"'

# Runs that share the cache: one makes a root at a time, and a root is removed only while no run
# holds the use lock (shared for as long as a run's overlay lies on a root).
exec {make_lock}>"$cache/root-debian$release.make.lock" {use_lock}>"$cache/root-debian$release.lock"
flock -x "$make_lock"
if [ ! -d "$lower" ]; then
    mirror=$(tolv_mirror)
    echo "Making a Debian $release root with the test packages from $mirror into $lower"
    tmp=$(mktemp -d "$cache/root-tmp.XXXXXX")
    # Recommends stay out, as the test command's own installs leave them out.
    tolv_run_apart mmdebstrap --quiet --variant=minbase --include="${packages%,}" \
        --aptopt='APT::Install-Recommends "false"' \
        --customize-hook='rm -rf "$1"/var/cache/apt/archives/*.deb' "$suite" "$tmp/root" "$mirror"
    mv -T "$tmp/root" "$lower"
    tolv_remove_tree "$tmp"
fi
# Roots made for another package list are of no further use, nor what a killed run left; while
# a run still uses a root, they stay for a later run to remove.
if flock -x -n "$use_lock"; then
    for old in "$cache/root-debian$release-"* "$cache/root-tmp."*; do
        [ "$old" = "$lower" ] || tolv_remove_tree "$old"
    done
fi
flock -s "$use_lock"
flock -u "$make_lock"

tolv_cache_temp work leg
mkdir "$work/upper" "$work/work" "$work/root"
git clone --quiet --no-hardlinks "$PWD" "$work/clone"
[ $# -gt 0 ] || set -- bash scripts/test.sh
echo "Debian $release: $* on $(git -C "$work/clone" log -1 --format='%h %s')"

# In the new namespaces: the overlay becomes the root, with the cache and the clone in it.
# shellcheck disable=SC2016 # the root's preparation runs there, with $r the root
tolv_enter_root "$work/root" '
    mount -t overlay overlay -o "lowerdir='"$lower"',upperdir='"$work"'/upper,workdir='"$work"'/work" "$r"
    mkdir -p "$r/var/cache/tolvenar" "$r/root/tolvenar"
    mount --bind "'"$cache"'" "$r/var/cache/tolvenar"
    cp -a "'"$work"'/clone/." "$r/root/tolvenar/"' \
    sh -c 'cd /root/tolvenar && exec "$@"' sh env CI="${CI:-}" TOLV_WINE_GUEST="${TOLV_WINE_GUEST:-}" \
    TOLV_CACHE=/var/cache/tolvenar TOLV_OTHER_RELEASE=no "$@"
