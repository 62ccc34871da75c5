#!/bin/sh
# run.sh BUILD_DIR WORK_DIR [I386_DLL_DIR]: tolv.exe and its test driver from a Windows build tree
# under wine64, in a fresh prefix with one wineserver, stopped at the end. With the i386 DLLs the
# build is the shipping 32-bit one, run in WoW64 mode; without them, the 64-bit twin. The table
# runs in code page 1252, then the cases of the other locales of tests/wine/cases.txt.
wine=/usr/lib/wine/wine64 server=/usr/lib/wine/wineserver64 work=$2 tests=$(cd "$(dirname "$0")/.." && pwd)
[ -x $wine ] && { [ $# -lt 3 ] || [ -d "$3/i386-windows" ]; } || { echo "SKIP: needs wine64 and i386 DLLs in '$3'"; exit 77; }
rm -rf "$work" && mkdir -p "$work/Program Files" && cd "$work" && cp "$1/tolv.exe" "Program Files/" || exit 1
# WoW64 runs the 32-bit code on the CPU: where this kernel faults it (ia32_emulation=off), or TOLV_WINE_GUEST=1, the
# run goes to a qemu guest of this Debian release (guest.sh there), whose kernel runs it.
[ $# -lt 3 ] || { [ "${TOLV_WINE_GUEST:-}" != 1 ] && printf '.globl _start\n_start: mov $1,%%eax\nxor %%ebx,%%ebx\nint $0x80\n' |
    as --32 -o ia32.o - && ld -m elf_i386 -o ia32 ia32.o && ./ia32; } ||
    exec env TOLV_VM_TIMEOUT=1800 sh "$tests/vm/run.sh" "$(. /etc/os-release && echo "$VERSION_ID")" "$1/tolv.exe" \
        "$tests/wine/guest.sh" "$1/tests/wine/tolvdrv.exe" "$tests" "$3/i386-windows"
[ $# -lt 3 ] || export WINEDLLPATH="$3"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap '$server -k; $server -w' EXIT
# No X server: the null driver, which the desktop takes up once the server that ran wineboot has exited.
$wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null || exit 1
run=$(cat /proc/sys/kernel/random/uuid)
$server -w; TOLV_WINE_RUN=$run $server -p60
# Wine takes the ANSI code page from the locale (the cases list the one each locale must give); its +cursor trace
# shows which icon each box loads, appended to: the desktop that an earlier locale's run started writes there too.
win() { printf 'Z:%s\n' "$(printf %s "$1" | tr / '\\')"; }
ended() { grep -cE '^(ok|FAIL) ' "$work/seen"; }
# Wine 10's server was seen, in a TCG guest, to spin for good walking the desktop's windows: where no case ends in
# 40 s (times TOLV_WINE_WAIT), what holds this run's token (Wine hands it on) is killed and the locale goes on,
# three times at most: not the processes of another run with the same prefix, nor the ones that started this run.
stall=$((40 * ${TOLV_WINE_WAIT:-1})) restarts=0 failed=0
for locale in $(grep -v '^#' "$tests/wine/cases.txt" | cut -f1 | cut -d= -f1 | uniq); do
    : >"$work/seen"
    while [ $restarts -le 3 ]; do
        from=$(ended) quiet=0
        LANG=$locale WINEDEBUG=+cursor TOLV_WINE_FROM=$from TOLV_WINE_RUN=$run $wine "$1/tests/wine/tolvdrv.exe" \
            "$(win "$work/Program Files/tolv.exe")" "$(win "$work/trace.log")" "$(win "$tests")" $locale \
            >>"$work/seen" 2>>"$work/trace.log" &
        while kill -0 $! 2>/dev/null && [ $quiet -lt $stall ]; do
            sleep 5 && quiet=$((quiet + 5)) && [ "$(ended)" = "$from" ] || from=$(ended) quiet=0
        done
        kill -0 $! 2>/dev/null || { wait $! || failed=1; break; }
        echo "no case ended in $stall s: the wineserver is killed and started again"
        grep -slzxF "TOLV_WINE_RUN=$run" /proc/[0-9]*/environ | cut -d/ -f3 | xargs kill -9 2>/dev/null
        wait $!
        restarts=$((restarts + 1))
        TOLV_WINE_RUN=$run $server -p60
    done
    cat "$work/seen" && [ $restarts -le 3 ] && ! grep -q '^FAIL' "$work/seen" || failed=1
done
[ $failed = 0 ] || exit 1
$server -k; $server -w; rm -rf "$work" # only a failed run keeps its prefix, of some 700 MB
