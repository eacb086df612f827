#!/usr/bin/env bash
# Makes the seed corpora of the fuzz targets in fuzz/corpus/, replacing
# them: for the decoder, tiny images in the formats and kinds the program
# reads (made with ImageMagick); for the filter, a few inputs in its byte
# layout (see flatten_fuzzer.cpp). The seeds are committed; run this only to
# change them.
set -euo pipefail
corpus="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/corpus"
rm -rf "$corpus/decode" "$corpus/flatten"
mkdir -p "$corpus/decode" "$corpus/flatten"

# A 24x16 page: a gradient with a dark stroke across it.
page() {
  local target=$1
  shift
  convert -size 24x16 gradient:khaki-sienna -fill black -draw 'line 2,3 21,12' -depth 8 "$@" -strip "$target"
}
cd "$corpus/decode"
page colour.png
page grey.png -colorspace Gray
page alpha.png -alpha set -channel A -evaluate set 60%
page PNG48:deep.png -depth 16
page PNG8:palette.png -colors 8
page baseline.jpg -quality 75
page progressive.jpg -quality 75 -interlace JPEG
page colour.bmp
page colour.ppm
page grey.pgm -colorspace Gray
page colour.tif -compress None
page colour.webp -quality 75
page grey.pfm -colorspace Gray
# The colour page with a colour profile (icc-profiles-free's smallest for
# RGB) in each format whose profile the program reads.
for format in jpg png tif webp; do
  convert colour.png -profile /usr/share/color/icc/compatibleWithAdobeRGB1998.icc -quality 75 -compress None \
    "profile.$format"
done

# The filter's layout: width - 1, height - 1, mode, then pixel bytes.
# `bytes N...` writes each N (0..255) as one byte.
bytes() { printf "$(printf '\\%03o' "$@")"; }
cd "$corpus/flatten"
bytes 0 0 0 16 32 48 >one-pixel
bytes 7 5 1 $(seq 200 -4 60) >grey-ramp
bytes 20 20 2 9 200 180 160 8 30 40 50 255 255 255 1 10 10 7 120 130 >mixed-spots
bytes 63 63 0 180 200 220 >flat
