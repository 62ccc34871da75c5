#!/bin/sh
# Redraws res/tolv.ico: a dial whose needle swings from green into red, the
# tool's one job (moving a process up or down the priority scale).
#
# Needs ImageMagick (convert) and icoutils (icotool) from Debian. The .ico is
# committed, so building the exe needs neither; run this only to change the art.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The point at angle $2 (degrees, clockwise from east, as ImageMagick counts)
# on the circle of radius $1 around the dial's centre (32,34).
pt() {
    awk -v r="$1" -v a="$2" 'BEGIN {
        t = a * atan2(0, -1) / 180
        printf "%.3f,%.3f", 32 + r * cos(t), 34 + r * sin(t)
    }'
}

# A band segment of the scale: a wedge from the centre, later hollowed out.
wedge() {
    echo "fill $1 path 'M 32,34 L $(pt 25 "$2") A 25,25 0 0,1 $(pt 25 "$3") Z'"
}

# Draws one image of $1 x $1 pixels. The art is laid out on a 64-unit grid and
# rendered at 4x, then scaled down, so every size is drawn from the same shapes;
# at 16 pixels the scale band and the needle are thicker so the dial still reads.
draw() {
    size=$1
    case $size in
        16) inner=14 needle=7 reach=10 hub=6 rim=0 ;;
        *) inner=17 needle=4.5 reach=20 hub=5 rim=2.5 ;;
    esac
    big=$((size * 4))
    scale=$(awk "BEGIN { print $big / 64 }")

    # A 256-colour entry has a 1-bit transparency mask and a palette: cut the
    # alpha to on/off and the colours to fit, or icotool keeps a deeper entry.
    convert -size "${big}x${big}" xc:none \
        -draw "affine $scale,0,0,$scale,0,0
               fill #1d3557 stroke #6c8ebf stroke-width $rim
               circle 32,32 32,2
               stroke none
               $(wedge '#3bb273' 150 232)
               $(wedge '#f2c14e' 230 312)
               $(wedge '#e1523d' 310 390)
               fill #1d3557 circle 32,34 32,$((34 - inner))
               stroke #ffffff stroke-width $needle stroke-linecap round
               line 32,34 $(pt "$reach" 315)
               stroke none fill #ffffff
               circle 32,34 $((32 + hub)),34" \
        -filter Box -resize "${size}x${size}" \
        -channel A -threshold 50% +channel \
        +dither -colors 255 \
        "PNG32:$work/tolv-$size.png"
}

for size in 64 48 16 32; do
    draw "$size"
done

# -b 8 keeps every entry at 256 colours; without it an image of few colours
# silently becomes a 16-colour entry. The order of the files is the order of
# the entries in the icon group.
icotool -c -b 8 -o "$work/tolv.ico" \
    "$work/tolv-64.png" "$work/tolv-48.png" \
    "$work/tolv-16.png" "$work/tolv-32.png"

# icotool only warns when it cannot reach 8 bits; refuse such a result.
icotool -l "$work/tolv.ico" | tee "$work/list"
if grep -v -- '--bit-depth=8 ' "$work/list"; then
    echo "make-icon.sh: an entry is not 256-colour; tolv.ico left as it was" >&2
    exit 1
fi
mv "$work/tolv.ico" "$here/tolv.ico"
