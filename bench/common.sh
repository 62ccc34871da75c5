# shellcheck shell=dash
# Sourced by the benchmarks (bash or sh): the reading of their options and
# the check of the tools they call.

# bench_options "LETTER=VAR ..." ARG...: sets each VAR to the argument that
# follows its -LETTER in the ARGs, which stop at the first word that is no
# option. Any other option, or one without its argument, ends the script with
# status 2, after getopts has named it.
bench_options() {
    local spec="$1" letters='' pair opt
    shift
    for pair in $spec; do
        letters=$letters${pair%%=*}:
    done
    OPTIND=1
    while getopts "$letters" opt; do
        [ "$opt" != "?" ] || exit 2
        for pair in $spec; do
            [ "${pair%%=*}" != "$opt" ] || eval "${pair#*=}=\$OPTARG"
        done
    done
}

# bench_needs TOOL...: ends the script with status 2 unless each TOOL is a
# command it can run.
bench_needs() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "${0##*/}: $tool is needed" >&2; exit 2; }
    done
}
