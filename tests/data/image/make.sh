#!/bin/sh
# Remakes the image fixtures with ImageMagick 6 (Debian package imagemagick), an encoder
# independent of ours. Every picture is 8 x 6 pixels made from one raw pattern, so the
# tests can compute each expected pixel (see pattern_pixel in image_test.cpp):
#   red = 30x + 15, green = 40y + 20, blue = 255 - 20(x + y), alpha = 255 - 5(x + 8y),
#   grey = 10 + 5(x + 8y)
set -eu
cd "$(dirname "$0")"
im=/usr/bin/convert
# No time stamps, so that remaking them changes nothing.
nodate="-define png:exclude-chunks=date,time"
size=8x6

LC_ALL=C awk 'BEGIN { for (y = 0; y < 6; y++) for (x = 0; x < 8; x++)
    printf "%c%c%c%c", 30*x + 15, 40*y + 20, 255 - 20*(x + y), 255 - 5*(x + 8*y) }' > pattern.rgba
LC_ALL=C awk 'BEGIN { for (i = 0; i < 48; i++) printf "%c", 10 + 5*i }' > pattern.grey
# The same at 16 bits, most significant byte first: the pattern in the high byte, and a
# low byte that differs from it, so that a decoder reading the wrong half is caught.
LC_ALL=C awk 'BEGIN { for (y = 0; y < 6; y++) for (x = 0; x < 8; x++)
    printf "%c%c%c%c%c%c", 30*x + 15, 7*x + 1, 40*y + 20, 11*y + 3, 255 - 20*(x + y), 5*x + 9*y }' \
    > pattern.rgb16
LC_ALL=C awk 'BEGIN { for (i = 0; i < 48; i++) printf "%c%c", 10 + 5*i, 200 - 3*i }' > pattern.grey16

rgba="-size $size -depth 8 rgba:pattern.rgba"
rgb="$rgba -alpha off"
grey="-size $size -depth 8 gray:pattern.grey"

$im $rgba $nodate PNG32:rgba8.png
$im $rgba -depth 16 $nodate PNG64:rgba16.png
$im $grey -type Grayscale $nodate PNG:grey.png
$im $rgb -type TrueColor BMP3:rgb24.bmp
$im $rgba -type TrueColorAlpha -define bmp:subtype=ARGB8888 BMP:rgba32.bmp
$im $rgba -orient top-left -compress RLE rgba.tga
# The decoder takes PSD colour as matted on white, so the PSD stays opaque.
$im $rgb rgb.psd
$im $rgb rgb.gif
$im $rgb PPM:rgb.ppm
$im $grey PGM:grey.pgm
$im -size $size -depth 16 -endian MSB rgb:pattern.rgb16 PPM:rgb16.ppm
$im -size $size -depth 16 -endian MSB gray:pattern.grey16 PGM:grey16.pgm
$im $rgb -quality 100 -sampling-factor 1x1 rgb.jpg
$im $grey -quality 100 grey.jpg
$im $rgb -quality 90 -interlace JPEG progressive.jpg
# Radiance HDR is left out of the decoder: this one must fail to load.
$im $rgb rgb.hdr
rm pattern.rgba pattern.grey pattern.rgb16 pattern.grey16
