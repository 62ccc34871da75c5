#!/bin/sh
# run.sh RELEASE[-ARCH] TOLV SCRIPT [FILE...]: boots Debian RELEASE (12 or 13) of ARCH (amd64, or for 13 arm64 on
# qemu's virt machine) under qemu's TCG, its root in the initramfs that scripts/vm-image.sh makes, with a second
# archive on it, not compressed (the guest would inflate it at TCG's pace): TOLV, SCRIPT and the FILEs (or folders)
# in /opt/tolv, and a unit that runs SCRIPT as root once the system is up, then powers off. SCRIPT's lines that
# start with "case " or "note " come back on the serial console; each is printed, then the counts (a case not "ok"
# fails, and so does a SCRIPT that did not exit 0: it may have stopped early). TOLV_VM_LOG keeps the console there;
# TOLV_VM_TIMEOUT bounds the boot (600 s); TOLV_VM_MEMORY is the guest's (8G), 90% of which the root may fill, not
# half: Wine's prefix copies its DLLs. No qemu, or an image that cannot be made, fails.
[ $# -ge 3 ] || { echo "usage: run.sh RELEASE[-ARCH] TOLV SCRIPT [FILE...]" >&2; exit 2; }
release=${1%-*} arch=amd64 qemu=qemu-system-x86_64 console=ttyS0
case $1 in *-*) arch=${1#*-} ;; esac && shift
[ "$arch" != arm64 ] || qemu="qemu-system-aarch64 -M virt -cpu max,pauth-impdef=on" console=ttyAMA0
here=$(cd "$(dirname "$0")" && pwd) work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
image=$(bash "$here/../../scripts/vm-image.sh" "$release" "$arch" 2>"$work/image.log") ||
    { tail -5 "$work/image.log"; echo "the Debian $release $arch image could not be made"; exit 1; }
mkdir -p "$work/o/opt/tolv" "$work/o/etc/systemd/system/multi-user.target.wants" && cp "$1" "$work/o/opt/tolv/tolv" &&
    cp "$2" "$work/o/opt/tolv/run" && shift 2 && { [ $# = 0 ] || cp -r "$@" "$work/o/opt/tolv/"; } || exit 1
cat >"$work/o/etc/systemd/system/tolv-vm.service" <<UNIT
[Unit]
After=multi-user.target
[Service]
Type=oneshot
ExecStartPre=/bin/mount -o remount,size=90% /
ExecStart=/bin/sh /opt/tolv/run
ExecStartPost=/bin/echo note the script ran to its end, exit 0
StandardOutput=tty
StandardError=tty
TTYPath=/dev/$console
# Not SuccessAction=: seen not to fire once the cases had made transient units.
ExecStopPost=/bin/systemctl poweroff --force
UNIT
ln -s ../tolv-vm.service "$work/o/etc/systemd/system/multi-user.target.wants/"
(cd "$work/o" && find . | cpio --quiet -o -H newc -R 0:0) | cat "$(echo "$image" | sed -n 2p)" - >"$work/initrd"
# shellcheck disable=SC2086 # the machine's options
timeout "${TOLV_VM_TIMEOUT:-600}" $qemu -accel tcg -m "${TOLV_VM_MEMORY:-8G}" -smp 2 -nographic -no-reboot -monitor none \
    -serial file:"$work/serial.log" -kernel "$(echo "$image" | head -1)" -initrd "$work/initrd" \
    -append "console=$console rdinit=/lib/systemd/systemd quiet systemd.show_status=0 systemd.mask=serial-getty@$console.service" \
    >"$work/qemu.log" 2>&1 || { cat "$work/qemu.log"; echo "qemu failed or timed out"; broken=1; }
[ -z "$TOLV_VM_LOG" ] || cp "$work/serial.log" "$TOLV_VM_LOG"
tr -d '\r' <"$work/serial.log" | grep -aE '^(case|note) ' >"$work/cases"
cat "$work/cases"
grep -qx 'note the script ran to its end, exit 0' "$work/cases" || { echo "the script stopped early"; broken=1; }
grep -q '^case ' "$work/cases" || { echo "no case line on the console; its end:"; tail -30 "$work/serial.log" | sed 's/^/  | /'; broken=1; }
passed=$(grep -c '^case .*: ok$' "$work/cases") failed=$(grep '^case ' "$work/cases" | grep -vc ': ok$')
failed=$((failed + ${broken:-0}))
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
