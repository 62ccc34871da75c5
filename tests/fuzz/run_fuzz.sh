#!/bin/sh
# Runs a libFuzzer target the way ctest wants it, without writing to the repo.
#   run_fuzz.sh short FUZZER SEEDS DICT SECONDS ARTIFACT_PREFIX
#   run_fuzz.sh regression FUZZER DIR...
set -u
mode=$1 fuzzer=$2
shift 2

case $mode in
short)
    seeds=$1 dict=$2 seconds=$3 artifacts=$4
    mkdir -p "$artifacts"
    work=$(mktemp -d) || exit 1
    trap 'rm -rf "$work"' EXIT
    cp "$seeds"/* "$work"/
    "$fuzzer" "$work" -dict="$dict" -max_total_time="$seconds" -max_len=1024 \
        -artifact_prefix="$artifacts" -print_final_stats=1
    ;;
regression)
    # libFuzzer runs files given by name once each, and fuzzes none.
    files=$(find "$@" -type f 2>/dev/null | sort)
    [ -n "$files" ] || { echo "no inputs in $*"; exit 1; }
    # shellcheck disable=SC2086 # the names have no blanks: they are ours
    "$fuzzer" $files
    ;;
*)
    echo "unknown mode $mode" >&2
    exit 2
    ;;
esac
