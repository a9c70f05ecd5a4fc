#!/usr/bin/env bash
# Makes the EXIF blocks of tests/exif/corpus/: small JPEGs from ImageMagick's convert, tagged with
# exiftool as cameras of several makes would tag them, and their EXIF data extracted as the host
# hands it to the plug-in (TIFF layout, starting at the byte-order mark). The blocks are committed;
# run this again only to change them. Needs: convert (imagemagick), exiftool
# (libimage-exiftool-perl), perl.
set -euo pipefail

out=$(cd "$(dirname "$0")" && pwd)/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

# block NAME ORDER EXIFTOOL-ARGS... : tag a fresh 16x16 JPEG and extract its EXIF block.
block() {
  local name=$1 order=$2; shift 2
  local jpg=$work/$name.jpg
  convert -size 16x16 gradient:gray20-gray80 "$jpg"
  exiftool -q -overwrite_original -ExifByteOrder="$order" "$@" "$jpg"
  exiftool -m -b -EXIF "$jpg" >"$out/$name.exif"
  [[ -s $out/$name.exif ]] || { echo "no EXIF in $name" >&2; exit 1; }
}

# A tiny thumbnail: gives the block an IFD1 with resolutions of its own (72 dpi).
convert -size 8x8 xc:gray50 -density 72 "$work/thumb.jpg"

# Perl: block offset of the maker note's value in an Intel-order EXIF block (0 when none).
makernote_offset() {
  perl -e '
    local $/; open my $f, "<:raw", $ARGV[0] or die; my $b = <$f>;
    sub u16 { unpack "v", substr($b, $_[0], 2) } sub u32 { unpack "V", substr($b, $_[0], 4) }
    sub walk { my ($d) = @_; my $n = u16($d);
      for my $i (0 .. $n - 1) { my $e = $d + 2 + 12 * $i; my $t = u16($e);
        return u32($e + 8) if $t == 0x927c;
        if ($t == 0x8769) { my $r = walk(u32($e + 8)); return $r if $r; } }
      return 0; }
    print walk(u32(4));' "$1"
}

# Canon maker note: one directory in Intel order whose value offsets count from the start of the
# EXIF block. Tag 1 (camera settings) holds 20 16-bit values; value 16 is the ISO code
# (16 = ISO 50 ... 20 = ISO 800 ... 24 = ISO 12800). Tag 6 is the image type text.
canon_note() {  # canon_note FILE NOTE-OFFSET ISO-CODE
  perl -e '
    my ($file, $base, $code) = @ARGV;
    my $type = "Canon EOS test\0\0";                          # 16 bytes
    my $dir = 2 + 2 * 12 + 4;                                  # entries + next link
    my @v = (0) x 20; $v[0] = 40; $v[16] = $code;
    my $note = pack("v", 2)
      . pack("vvVV", 1, 3, 20, $base + $dir)                   # camera settings
      . pack("vvVV", 6, 2, 16, $base + $dir + 40)              # image type
      . pack("V", 0) . pack("v*", @v) . $type;
    open my $f, ">:raw", $file or die; print $f $note;' "$1" "$2" "$3"
}

# --- Canon, Intel order, with maker note (ISO 800 in the note, 400 in ISOSpeedRatings),
# thumbnail directory, interoperability directory and GPS directory.
canon_args=(-Make=Canon "-Model=Canon EOS 5D Mark II" -ISO=400 -ExposureTime=1/125 -FNumber=5.6
  "-DateTimeOriginal=2019:07:14 10:22:33" "-ModifyDate=2019:07:15 08:00:00" -XResolution=300
  -YResolution=300 -ResolutionUnit=inches -InteropIndex=R98 -GPSLatitude=48.1 -GPSLatitudeRef=N
  "-ThumbnailImage<=$work/thumb.jpg")
canon_note "$work/note.bin" 0 20
block canon-eos5d2-ii II "${canon_args[@]}" "-MakerNoteCanon<=$work/note.bin"
# The note's offsets count from the block start: now that its place is known, write it again.
off=$(makernote_offset "$out/canon-eos5d2-ii.exif")
canon_note "$work/note.bin" "$off" 20
block canon-eos5d2-ii II "${canon_args[@]}" "-MakerNoteCanon<=$work/note.bin"
[[ $(makernote_offset "$out/canon-eos5d2-ii.exif") == "$off" ]] || { echo "maker note moved" >&2; exit 1; }

# --- Nikon, the same tags in Intel and in Motorola order.
nikon_args=(-Make="NIKON CORPORATION" "-Model=NIKON D700" -ISO=1600 -ExposureTime=1/60 -FNumber=2.8
  "-DateTimeOriginal=2011:03:02 18:45:10" -XResolution=240 -YResolution=240 -ExposureMode=Auto)
block nikon-d700-ii II "${nikon_args[@]}"
block nikon-d700-mm MM "${nikon_args[@]}"

# --- Sony with a maker note of its own (ignored by the reader), ISO also as ExposureIndex.
printf 'SONY DSC \0\0\0\0\0' >"$work/sony.bin"
block sony-ilce7m3-ii II -Make=SONY -Model=ILCE-7M3 -ISO=6400 -ExposureTime=1/2000 -FNumber=1.8 \
  "-DateTimeOriginal=2020:12:24 23:59:59" -ExposureIndex=6400 "-MakerNoteSony<=$work/sony.bin"

# --- Fujifilm, Motorola order, long exposure.
block fujifilm-xt3-mm MM -Make=FUJIFILM -Model=X-T3 -ISO=160 -ExposureTime=2 -FNumber=8 \
  "-DateTimeOriginal=2018:09:06 05:30:00" -XResolution=72 -YResolution=72

# --- Old compact camera storing ISO divided by 200 (ISOSpeedRatings 1 means ISO 200).
block olympus-c2000-mm MM "-Make=OLYMPUS OPTICAL CO.,LTD" -Model=C2000Z -ISO=1 \
  -ExposureTime=1/30 -FNumber=2 "-DateTimeOriginal=2000:01:01 12:00:00"

# --- Only APEX values: ShutterSpeedValue 8 (1/256 s) and ApertureValue 5 (f/5.66); no resolution.
block kodak-apex-ii II "-Make=EASTMAN KODAK COMPANY" "-Model=KODAK DC290" \
  -ShutterSpeedValue#=0.00390625 -ApertureValue#=5.65685424949238 -MaxApertureValue#=2.8 \
  -XResolution= -YResolution=

# --- Dates in every place: DateTime (IFD0) before DateTimeOriginal and DateTimeDigitized.
block pentax-dates-mm MM -Make=PENTAX "-Model=PENTAX K-5" "-ModifyDate=2012:02:02 02:02:02" \
  "-DateTimeOriginal=2012:01:01 01:01:01" "-CreateDate=2012:03:03 03:03:03" -ISO=50 -XResolution=300

# --- A make longer than 31 characters and a resolution given as X only.
block panasonic-long-ii II "-Make=Panasonic Corporation of North America" -Model=DMC-GH4 -ISO=49 \
  -XResolution=350 -YResolution=
