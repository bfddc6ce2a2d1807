#!/usr/bin/env bash
# Draws the icon in every format and reads the files back with ImageMagick, an independent
# decoder: the pixels against checksums of the art as first drawn, the scaling of the art, the
# icon's bitmaps and its PNG, and the SVG.
# Usage: icon_files.sh TAVRIN_ICON WORK_DIR
set -uo pipefail

icon_tool=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
source "$(dirname "$0")/../support/check.sh"

for size in 16 24 32 48 64 256; do
    "$icon_tool" png "$size" "$work/$size.png" || check "tavrin-icon draws $size pixels" false
done
"$icon_tool" ico "$work/icon.ico" || check "tavrin-icon writes the .ico" false
"$icon_tool" svg "$work/icon.svg" || check "tavrin-icon writes the .svg" false

describe() { identify -format '%m %wx%h %[channels];' "$1" 2>&1; }
for size in 16 24 32 48 64 256; do
    check "the $size-pixel PNG decodes as $size x $size RGBA" \
        test "$(describe "$work/$size.png")" = "PNG ${size}x${size} srgba;"
done

# The pixels, as ImageMagick decodes them, of the icons the generator drew before libpng wrote
# its files: the art and its scaling have not changed, so neither may a single pixel.
declare -A pixel_sums=(
    [16]=7491608f3e35da039b2232cbef5e675a4cc7e9c95ef6e3b306eb9ad68f9de0f3
    [24]=4b9dc4885a33654a00b88e29d04cb4c92467b18f9067a93d79a9d5ad84288a56
    [32]=5a12a280326ab04384a7e5f14c66abcf103fa7a152eb8afe007632d8e8513b5a
    [48]=7db1696a86dcb68e5c1d901d2ba88ffa63d0c900d29f662b8e6882430475c040
    [64]=8e32bfb5893d5552fdcda22d2d2166ea8475872147986067ba744b3a03ee3b44
    [256]=94b63fc48ab626c71a8c3c263aca16d02cce3c36e3bf4deaf9f64b63503d58b4
)
for size in 16 24 32 48 64 256; do
    check "the $size-pixel PNG has the pixels it always had" \
        test "$(convert "$work/$size.png" rgba:- | sha256sum | cut -d' ' -f1)" = "${pixel_sums[$size]}"
done

differing() { compare -metric AE "$1" "$2" null: 2>&1; } # the number of differing pixels
# At multiples of 32 pixels each cell of the art is a square of equal pixels.
for size in 64 256; do
    convert "$work/$size.png" -sample 32x32 "$work/$size-sampled.png"
    check "the $size-pixel PNG is the 32-pixel one with each pixel repeated" \
        test "$(differing "$work/32.png" "$work/$size-sampled.png")" = 0
done

pixel() { convert "$1" -format "%[pixel:p{$2,$3}]" info: 2>&1; } # pixel FILE X Y
# Landmarks of the art at 256 pixels (8 x 8 pixels a cell): the first brick row is red, the paddle
# near the bottom, the rounded corners transparent.
check "a brick of the top row is red at 256 pixels" test "$(pixel "$work/256.png" 20 52)" = "srgba(255,92,77,1)"
check "the paddle lies near the bottom" \
    eval '[[ $(pixel "$work/256.png" 100 220) == "srgba(242,242,242,1)" &&
             $(pixel "$work/256.png" 100 35) != "srgba(242,242,242,1)" ]]'
check "the corners are transparent" \
    eval '[[ $(pixel "$work/256.png" 0 0) == "srgba(0,0,0,0)" && $(pixel "$work/256.png" 255 255) == "srgba(0,0,0,0)" ]]'
# At 16 pixels a corner pixel covers three transparent cells and one of the screen: a quarter
# opaque, in the screen's colour (not darkened by the transparent cells).
check "a corner pixel at 16 pixels is the screen's colour, a quarter opaque" \
    test "$(pixel "$work/16.png" 0 0)" = "srgba(24,27,36,0.25098)"

# The .ico: bitmaps at 16 to 48 pixels and a PNG at 256, each the same picture as the PNG files.
check "the .ico holds 16, 24, 32, 48 and 256 pixels, the largest as PNG" \
    test "$(describe "$work/icon.ico")" = \
    "ICO 16x16 srgba;ICO 24x24 srgba;ICO 32x32 srgba;ICO 48x48 srgba;PNG 256x256 srgba;"
index=0
for size in 16 24 32 48 256; do
    check "the .ico's $size-pixel image equals the $size-pixel PNG" \
        test "$(differing "$work/icon.ico[$index]" "$work/$size.png")" = 0
    index=$((index + 1))
done

# The SVG: one 1-high rectangle per run of cells; together they cover exactly the opaque cells.
svg_cells=$(grep -o 'width="[0-9]*" height="1"' "$work/icon.svg" | grep -o '[0-9]*' |
            awk 'NR % 2 == 1 { sum += $1 } END { print sum }')
opaque_cells=$(convert "$work/32.png" -alpha extract -format '%[fx:int(mean * w * h + 0.5)]' info:)
check "the SVG is a 32 x 32 picture" grep -q 'viewBox="0 0 32 32"' "$work/icon.svg"
check "the SVG's squares cover the $opaque_cells opaque cells (found $svg_cells)" \
    test "$svg_cells" = "$opaque_cells"
check "the SVG ends" test "$(tail -n 1 "$work/icon.svg")" = "</svg>"

# Bad sizes get a message, not a file.
check "a size of 0 is refused" eval '! "$icon_tool" png 0 "$work/zero.png" 2>/dev/null && [[ ! -e "$work/zero.png" ]]'
check "an unwritable path is reported" eval '! "$icon_tool" svg "$work/missing/icon.svg" 2>/dev/null'

((failures == 0))
