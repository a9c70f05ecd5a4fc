#!/usr/bin/env bash
# Makes the small image files of the image-file tests into DIR (run by the build):
#   make-test-images.sh DIR
# Files come from ImageMagick's convert, EXIF data and ICC profiles from exiftool, so the reader
# is tested on files that FreeImage did not write itself. Pixel values are chosen so that a
# swapped channel order or a lost alpha sample shows.
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
rm -f -- *.jpg *.png *.tif *.bmp *.gif *.pfm *.icc *.tga *.ppm *.pgm *.webp *.jp2 *.psd *.pcx *.sgi *.pcd *.hdr \
  *.wbmp *.koa *.cut *.dng stamp

# A small but valid ICC v2 display profile (header, one 'cprt' text tag) for colour (RGB) or grey
# (GRAY) data; the text names it so a test can tell it arrived intact.
icc() {  # icc FILE SPACE TEXT
  perl -e '
    my ($file, $space, $text) = @ARGV;
    my $t = "text" . "\0" x 4 . $text . "\0"; $t .= "\0" x ((4 - length($t) % 4) % 4);
    my $size = 128 + 4 + 12 + length($t);
    my $h = pack("N", $size) . "\0" x 4 . pack("N", 0x02100000) . "mntr" . $space . "XYZ "
      . "\0" x 12 . "acsp" . "\0" x 24 . pack("N", 0) . pack("NNN", 0xF6D6, 0x10000, 0xD32D)
      . "\0" x 48;
    die "header" unless length($h) == 128;
    my $p = $h . pack("N", 1) . "cprt" . pack("NN", 144, length($t)) . $t;
    open my $f, ">:raw", $file or die; print $f $p;' "$1" "$2" "$3"
}
icc rgb.icc 'RGB ' 'Hushpix test RGB profile'
icc grey.icc 'GRAY' 'Hushpix test grey profile'

camera=(-Make=Canon "-Model=Canon EOS 7D" -ISO=400 -ExposureTime=10/1250 -FNumber=2.8
  "-DateTimeOriginal=2021:05:06 07:08:09" -ExifImageWidth=24 -ExifImageHeight=16)

# 8-bit colour JPEG with EXIF and ICC profile (the usual metadata source).
convert -size 24x16 gradient:red-blue -depth 8 -type TrueColor exif-icc.jpg
exiftool -q -overwrite_original "${camera[@]}" "-ICC_Profile<=rgb.icc" exif-icc.jpg
# 8-bit grey JPEG with EXIF (ExposureTime 2 s, 16-bit ISO) and a grey profile.
convert -size 20x10 gradient:white-black -colorspace Gray -depth 8 grey-exif.jpg
exiftool -q -overwrite_original -Make=NIKON "-Model=NIKON D3" -ISO=12800 -ExposureTime=2 -FNumber=11 \
  "-ICC_Profile<=grey.icc" grey-exif.jpg
# The same colour JPEG with ExposureTime 0/0 and a zero FNumber denominator, as broken writers
# leave them: the value bytes are patched in the file.
cp exif-icc.jpg exposure-zero.jpg
perl -e '
  local $/; open my $f, "+<:raw", $ARGV[0] or die; my $b = <$f>;
  my $base = index($b, "Exif\0\0") + 6; my $mm = substr($b, $base, 2) eq "MM";
  my ($u16, $u32) = $mm ? ("n", "N") : ("v", "V");
  sub rd { my ($fmt, $at, $n) = @_; unpack $fmt, substr($b, $at, $n) }
  my @dirs = ($base + rd($u32, $base + 4, 4)); my $done = 0;
  while (my $d = shift @dirs) {
    my $n = rd($u16, $d, 2);
    for my $i (0 .. $n - 1) {
      my $e = $d + 2 + 12 * $i; my $tag = rd($u16, $e, 2);
      push @dirs, $base + rd($u32, $e + 8, 4) if $tag == 0x8769;
      if ($tag == 0x829A || $tag == 0x829D) {
        my $v = $base + rd($u32, $e + 8, 4);
        substr($b, $v, 8) = $tag == 0x829A ? pack($u32 x 2, 0, 0) : pack($u32 x 2, 28, 0); $done++;
      }
    }
  }
  die "tags not found" unless $done == 2;
  seek $f, 0, 0; print $f $b; close $f;' exposure-zero.jpg

# 16-bit colour: red 0xFFFF, green 0, blue 0x8000 (record order: blue, green, red).
convert -size 3x2 'xc:#ffff00008000' -depth 16 -type TrueColor rgb16.png
convert -size 3x2 'xc:#ffff00008000' -depth 16 -type TrueColor -compress none rgb16.tif
exiftool -q -overwrite_original "-ICC_Profile<=rgb.icc" rgb16.tif
# 16-bit colour with alpha 0x4000, and 8-bit colour with alpha 0x40.
convert -size 3x2 'xc:#ffff000080004000' -depth 16 -type TrueColorAlpha rgba16.png
convert -size 3x2 'xc:#ff008040' -depth 8 PNG32:rgba8.png
# Grey 8 and 16 bits.
convert -size 5x3 'xc:#123412341234' -colorspace Gray -depth 16 -define png:color-type=0 grey16.png
convert -size 5x3 'xc:#565656' -colorspace Gray -depth 8 -define png:color-type=0 grey8.png
# 24-bit BMP with the classic header.
convert -size 5x3 gradient:lime-navy -type TrueColor BMP3:rgb24.bmp

# The other formats, each a column of two colours (top: red 0xFF, green 0, blue 0x80; bottom: red
# 0x10, green 0xE0, blue 0x20), losslessly coded; grey 0x56 over 0x20.
two8=(-size 2x2 'xc:#ff0080' 'xc:#10e020' -append -depth 8 -type TrueColor)
two16=(-size 2x2 'xc:#ffff00008000' 'xc:#1000e0002000' -append -depth 16 -type TrueColor)
# (This convert writes a TGA's rows top first whatever it puts into the header; the header must say so.)
convert "${two8[@]}" -orient TopLeft two.tga
convert "${two8[@]}" two.ppm
convert -size 2x2 'xc:#565656' 'xc:#202020' -append -colorspace Gray -depth 8 two.pgm
convert "${two16[@]}" two16.ppm
convert "${two8[@]}" -define webp:lossless=true two.webp
convert "${two8[@]}" -quality 0 two.jp2
convert "${two16[@]}" -quality 0 two16.jp2
convert "${two8[@]}" two.psd

# Seeds of the damaged-file test for formats that FreeImage reads but does not write, or not from
# 8- and 16-bit pictures. Photo CD holds base images of 768x512 only.
convert "${two8[@]}" two.pcx
convert "${two8[@]}" two.sgi
convert "${two8[@]}" -resize '768x512!' two.pcd
convert "${two8[@]}" two.hdr
convert -size 8x8 pattern:checkerboard -monochrome two.wbmp
# Made by hand: a Commodore 64 multicolour picture (load address 0x6000, bitmap, screen and colour
# memory, background colour); a Dr. Halo picture (width, height, a reserved word, then per row a
# byte count and run-length packets: 10 repeated bytes, 20 literal ones, 10 repeated); a camera raw
# file in the DNG layout, a 32x24 16-bit mosaic of red, green / green, blue in one TIFF strip.
perl -e 'print pack("v", 0x6000), map { chr(($_ * 37 + ($_ >> 5)) & 0xFF) } 0 .. 10000' >two.koa
perl -e 'print pack("v3", 40, 24, 0);
  for my $y (0 .. 23) { my $row = pack("C*", 0x8A, $y * 3, 20, map({ $_ * 5 + $y } 0 .. 19), 0x8A, 200 - $y, 0);
    print pack("v", length $row), $row }' >two.cut
perl -e '
  my ($w, $h, $model) = (32, 24, "Hushpix test\0");
  my @e = ([254, 4, 1, 0], [256, 4, 1, $w], [257, 4, 1, $h], [258, 3, 1, 16], [259, 3, 1, 1], [262, 3, 1, 32803],
    [271, 2, 4, "Hpx\0"], [273, 4, 1, 0], [277, 3, 1, 1], [278, 4, 1, $h], [279, 4, 1, $w * $h * 2], [284, 3, 1, 1],
    [33421, 3, 2, pack("v2", 2, 2)], [33422, 1, 4, pack("C4", 0, 1, 1, 2)], [50706, 1, 4, pack("C4", 1, 4, 0, 0)],
    [50708, 2, length $model, 0]);
  my $modelAt = 8 + 2 + 12 * @e + 4; my $pixelsAt = $modelAt + length $model;
  $e[7][3] = $pixelsAt; $e[15][3] = $modelAt;
  my $ifd = pack("v", scalar @e);
  for (@e) { my ($tag, $type, $n, $v) = @$_;
    $ifd .= pack("vvV", $tag, $type, $n) . ($v =~ /^\d+$/ ? ($type == 3 ? pack("vv", $v, 0) : pack("V", $v)) : $v) }
  print "II*\0", pack("V", 8), $ifd, pack("V", 0), $model;
  print pack("v", (($_ % $w) * 997 + int($_ / $w) * 613) % 3000 + 500) for 0 .. $w * $h - 1' >two.dng

# Refused: palette images, 1-bit images, float images.
convert -size 4x4 xc:red xc:blue +append -type Palette PNG8:palette.png
convert -size 4x4 xc:red xc:blue +append palette.gif
convert -size 8x8 pattern:checkerboard -monochrome BMP3:mono.bmp
convert -size 4x4 xc:orange float-rgb.pfm
convert -size 4x4 xc:gray50 -colorspace Gray float-grey.pfm

touch stamp
