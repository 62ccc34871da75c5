#!/bin/sh
# run.sh BUILD_DIR WORK_DIR [I386_DLL_DIR]: tolv.exe and its test driver from a Windows build tree
# under wine64, in a fresh prefix with one wineserver, stopped at the end. With the i386 DLLs the
# build is the shipping 32-bit one, run in WoW64 mode; without them, the 64-bit twin. The table
# runs in code page 1252, then the cases of the other locales of tests/wine/cases.txt.
wine=/usr/lib/wine/wine64 server=/usr/lib/wine/wineserver64 work=$2 tests=$(cd "$(dirname "$0")/.." && pwd)
[ -x $wine ] && { [ $# -lt 3 ] || [ -d "$3/i386-windows" ]; } || { echo "SKIP: needs wine64 and i386 DLLs in '$3'"; exit 77; }
rm -rf "$work" && mkdir -p "$work/Program Files" && cd "$work" && cp "$1/tolv.exe" "Program Files/" || exit 1
# WoW64 runs the 32-bit code on the CPU: a kernel booted with ia32_emulation=off faults it.
[ $# -lt 3 ] || { printf '.globl _start\n_start: mov $1,%%eax\nxor %%ebx,%%ebx\nint $0x80\n' | as --32 -o ia32.o - &&
    ld -m elf_i386 -o ia32 ia32.o && ./ia32; } ||
    { echo "SKIP: this kernel runs no 32-bit code (ia32_emulation=off?), which WoW64 needs"; exit 77; }
[ $# -lt 3 ] || export WINEDLLPATH="$3"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap '$server -k; $server -w' EXIT
# No X server: the null driver, which the desktop takes up when the server restarts.
$wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null || exit 1
$server -k; $server -w; $server -p60
# Wine takes the ANSI code page from the locale (the cases list the one each locale must give); its
# +cursor trace shows which icon each box loads.
win() { printf 'Z:%s\n' "$(printf %s "$1" | tr / '\\')"; }
failed=0
for locale in $(grep -v '^#' "$tests/wine/cases.txt" | cut -f1 | cut -d= -f1 | uniq); do
    LANG=$locale WINEDEBUG=+cursor $wine "$1/tests/wine/tolvdrv.exe" "$(win "$work/Program Files/tolv.exe")" \
        "$(win "$work/trace.log")" "$(win "$tests")" $locale 2>"$work/trace.log" || failed=1
done
[ $failed = 0 ] || exit 1
$server -k; $server -w; rm -rf "$work" # only a failed run keeps its prefix, of some 700 MB
