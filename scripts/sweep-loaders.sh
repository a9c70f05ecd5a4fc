#!/usr/bin/env bash
# Sweeps every reading loader of the FreeImage build over damaged files (truncations and changed
# bytes of valid seed files) and prints, per format, how many files were tried and how many made
# the loader crash, hang, corrupt the heap or leak:
#   scripts/sweep-loaders.sh [N [FORMAT,...]]
# N truncations and N changed copies per format (default 1000), of every format or of those named
# as FreeImage names them (TARGA,PPMRAW,WebP,...).
# Seeds come from FreeImage's own writers, from ImageMagick's convert for formats FreeImage only
# reads, by hand for the rest, and, for RAW, from the camera files of many makers in the test
# images of Debian's exiftool, exiv2 and kimageformats sources (fetched with apt-get source into
# ~/.cache/hushpix-raw-seeds, or HPX_RAW_SEEDS; never into the tree). A format's files are shared
# by its seeds, swept side by side in shares of 50 (HPX_SWEEP_JOBS at once, default one per
# processor). A load taking over 10 s of processor time counts as a hang (HPX_SWEEP_HANG_MS sets
# another limit: an undamaged camera raw seed takes up to 12 s under the heap checks; AcceptedFormat
# says what a sweep of RAW with 60000 found).
# Runs the Windows build's own loaders under Wine, in a Wine prefix of its own whose heaps check
# block tails and freed blocks. Takes from minutes to hours (under an i386 emulator). Everything
# goes to build/loader-sweep; damaged files that failed are kept in its failures/ folder. Formats
# with any finding must stay refused by AcceptedFormat.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
per=${1:-1000}
only=${2:-}
out=$root/build/loader-sweep
seeds=$out/seeds
winpath() { printf 'Z:%s' "$(realpath -m "$1")" | tr / '\\'; }

cmake --preset win32 >/dev/null
cmake --build "$root/build/win32" --target hpx_loader_sweep -j4
exe=$root/build/win32/tools/loader-sweep/hpx_loader_sweep.exe

rm -rf "$seeds" "$out/failures"
mkdir -p "$seeds" "$out/failures"
# Formats FreeImage reads but does not write, and other flavours of those it writes (run-length
# coded TGA and PSD, compressed DDS, 16-bit files from another writer), as ImageMagick makes them.
(
  cd "$seeds"
  pic=(-size 40x32 gradient:red-blue -attenuate 0.3 +noise Uniform)
  convert "${pic[@]}" -compress RLE TARGA_im-rle.tga
  convert "${pic[@]}" -depth 16 PPMRAW_im-rgb16.ppm
  convert "${pic[@]}" -colorspace Gray -depth 16 PGMRAW_im-grey16.pgm
  convert "${pic[@]}" PSD_im-rle.psd
  convert "${pic[@]}" -depth 16 PSD_im-rgb16.psd
  convert "${pic[@]}" PCX_im.pcx
  convert "${pic[@]}" RAS_im.ras
  convert "${pic[@]}" SGI_im.sgi
  convert "${pic[@]}" PICT_im.pct
  convert "${pic[@]}" -monochrome XBM_im.xbm
  convert "${pic[@]}" -define dds:compression=none DDS_im-plain.dds
  convert "${pic[@]}" -define dds:compression=dxt1 DDS_im-dxt1.dds
  convert "${pic[@]}" MNG_im.mng
  convert "${pic[@]}" JNG_im.jng
  convert "${pic[@]}" WebP_im.webp
  convert "${pic[@]}" -depth 16 JP2_im-rgb16.jp2
  convert "${pic[@]}" J2K_im.j2k
  convert "${pic[@]}" -monochrome WBMP_im.wbmp
  convert -size 1728x40 pattern:checkerboard -monochrome G3_im.g3
  convert "${pic[@]}" -resize 768x512! PCD_im.pcd
  convert "${pic[@]}" GIF_im.gif
  convert "${pic[@]}" ICO_im.ico
  convert "${pic[@]}" -colors 16 XPM_im.xpm
  convert "${pic[@]}" HDR_im.hdr
)

export WINEPREFIX=$out/wine
if [[ ! -f $WINEPREFIX/.heap-checks ]]; then
  # Heap tail checking (0x10), free checking (0x20) and parameter checking (0x40) in every heap
  # of every process of this prefix: an overrun or a write to freed memory fails HeapValidate.
  "$root/scripts/wine-run.sh" reg add 'HKLM\System\CurrentControlSet\Control\Session Manager' \
    /v GlobalFlag /t REG_DWORD /d 0x70 /f >/dev/null
  wineserver -w
  touch "$WINEPREFIX/.heap-checks"
fi
"$root/scripts/wine-run.sh" "$exe" seeds "$(winpath "$seeds")"

# Real camera raw files: every file of a raw camera extension in the packages' test images that the
# RAW loader reads as it is becomes a seed "RAW_name.ext"; the rest are listed and left out.
raw_cache=${HPX_RAW_SEEDS:-$HOME/.cache/hushpix-raw-seeds}
mkdir -p "$raw_cache"
raw_ext='3fr|arw|bay|bmq|cap|cine|cr2|cr3|crw|cs1|dc2|dcr|drf|dsc|dng|erf|fff|ia|iiq|k25|kc2|kdc|mdc|mef|mos'
raw_ext+='|mrw|nef|nrw|orf|pef|ptx|pxn|qtk|raf|raw|rdc|rw2|rwl|rwz|sr2|srf|srw|sti|x3f'
candidates=()
for source in libimage-exiftool-perl:t/images exiv2:test/data kimageformats:autotests/read/raw; do
  package=${source%%:*}
  if ! compgen -G "$raw_cache/$package-[0-9]*/" >/dev/null; then
    (cd "$raw_cache" && apt-get source -qq "$package" >/dev/null)
  fi
  for dir in "$raw_cache/$package"-[0-9]*/"${source#*:}"; do
    while IFS= read -r file; do candidates+=("$file"); done < <(
      find "$dir" -maxdepth 1 -type f -regextype posix-extended -iregex ".*\.($raw_ext)" | sort)
  done
done
# One process per file: a file that the loader cannot survive even undamaged is a finding itself.
refused=() failed=()
for file in "${candidates[@]}"; do
  verdict=$(timeout 120 "$root/scripts/wine-run.sh" "$exe" reads RAW "$(winpath "$file")" | tr -d '\r') || true
  case $verdict in
    reads\ *) cp "$file" "$seeds/RAW_$(basename "$file")" ;;
    refuses\ *) refused+=("$(basename "$file")") ;;
    *) failed+=("$(basename "$file")") ;;
  esac
done
echo "[sweep] camera raw seeds: $(ls "$seeds"/RAW_* | wc -l) (the hand-made DNG among them) of" \
  "${#candidates[@]} files found; not read as they are, so no seeds: ${refused[*]:-none}"
[[ ${#failed[@]} -eq 0 ]] || echo "[sweep] the RAW loader crashed or hung on UNDAMAGED ${failed[*]}"
"$root/scripts/wine-run.sh" "$exe" selftest
echo "[sweep] $(ls "$seeds" | wc -l) seeds; $per truncations and $per changed copies per format"
"$root/scripts/wine-run.sh" "$exe" run "$(winpath "$seeds")" "$(winpath "$out/failures")" "$per" $only |
  tee "$out/report.txt"
