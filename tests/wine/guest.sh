#!/bin/sh
# Run as root in the qemu guest of run.sh by tests/vm/run.sh: run.sh there, its ok/FAIL lines and exit as case lines.
echo "note $(/usr/lib/wine/wine64 --version) on Debian $(cat /etc/debian_version), kernel $(uname -r)"
cd /opt/tolv && mkdir -p build/tests/wine && cp tolv build/tolv.exe && cp tolvdrv.exe build/tests/wine/ || echo "case set-up: FAIL"
{ TOLV_WINE_WAIT=3 sh tests/wine/run.sh /opt/tolv/build /opt/tolv/work /opt/tolv; echo "exit $?"; } 2>&1 |
    sed -E 's/^(ok|FAIL) +([^:]*): (.*)/case \2: \3: \1/; t; s/^exit 0$/case run.sh: ok/; t; s/^exit /case run.sh: FAIL, exit /; t; s/^/note /'
