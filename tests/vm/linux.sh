#!/bin/sh
# run [PLACE [DIR]], as root by run.sh's unit in a booted Debian: the unit tables and the Linux cases of the
# build in DIR (this folder) as CTest runs them, each named PLACE (service) and its name; from the service,
# then the port built for 32-bit x86 (if given), from a root login's session scope (runuser -l), debian/tests
# on the machine's .deb, and cases.sh. cases.env: the cases, the source folder of tests/usage.txt.
. /opt/tolv/cases.env
place=${1:-service} dir=${2:-/opt/tolv}
cd /opt/tolv
export TOLV_COMPLETION=/opt/tolv/tolv.bash-completion
mkdir -p "$source"
ln -sfn /opt/tolv/tests "$source/tests"
# run NAME COMMAND...: the case's line, the rules it did not check here, its output if it failed.
run() {
    name=$1
    shift
    "$@" >out 2>&1
    status=$?
    sed -n "s/^not checked here: /note $place.$name: not checked here: /p" out
    [ $status = 0 ] && echo "case $place.$name: ok" && return
    echo "case $place.$name: FAIL (exit $status)"
    sed 's/^/note   /' out
}
run unit "$dir/tolv_unit"
run asan "$dir/tolv_unit_asan"
for case in $cases; do
    run "$case" timeout 900 unshare --pid --fork --kill-child --mount-proc setsid python3 \
        tests/linux/test_linux.py "$dir/tolv" "$dir/tolv_asan" "$dir/tolv_target" "$dir/tolv_probe" "$case"
done
[ "$place" = service ] || exit
# The port built for 32-bit x86 (bin, in Debian 13's amd64 boot), on the i386 libraries: multiarch.
[ ! -d /opt/tolv/bin ] || sh /opt/tolv/run service.i386 /opt/tolv/bin
runuser -l root -c "sh /opt/tolv/run login"
run autopkgtest autopkgtest /opt/tolv/deb/tolvenar_*.dsc /opt/tolv/deb/tolvenar_*_"$(dpkg --print-architecture)".deb -- null
sh /opt/tolv/cases.sh
