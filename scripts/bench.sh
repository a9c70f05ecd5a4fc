#!/usr/bin/env bash
# Runs the denoising benchmark: Hushpix natively next to OpenCV's non-local means, then the same
# Hushpix runs as the 32-bit Windows build under Wine (the i686 figures).
#
#   scripts/bench.sh [--quick] [--native-only] [--wine-only] [extra hpx_bench arguments]
#
# Installs what it needs (OpenCV's development files, ImageMagick, the wallpaper package whose
# photograph is denoised), builds into build/native$HPX_BUILD_SUFFIX and build/win32$HPX_BUILD_SUFFIX
# (suffix -bench unless set), writes the clean
# test image (the photograph scaled to about 12 megapixels, 8 and 16 bits) into build/bench-data
# and the results into build/bench-data/results-*.txt.
#   BENCH_PHOTO   another photograph to use (any format ImageMagick reads)
#   BENCH_MP      target size in megapixels (default 12)
# The full run takes roughly 15-25 minutes natively on 8 cores; --quick takes 1-2 minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
log() { printf '[bench] %s\n' "$*" >&2; }

quick=(); native=1; wine=1; extra=()
for a in "$@"; do
  case "$a" in
    --quick) quick=(--quick) ;;
    --native-only) wine=0 ;;
    --wine-only) native=0 ;;
    *) extra+=("$a") ;;
  esac
done

photo_pkg=plasma-workspace-wallpapers
photo_default=/usr/share/wallpapers/BytheWater/contents/images/2560x1600.jpg
need=(libopencv-dev imagemagick)
[[ -n "${BENCH_PHOTO:-}" ]] || need+=("$photo_pkg")
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  if [[ $(id -u) != 0 ]]; then log "please install: ${missing[*]}"; exit 1; fi
  log "installing ${missing[*]}"
  apt-get update -qq >/dev/null 2>&1 || true
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

photo=${BENCH_PHOTO:-$photo_default}
[[ -f $photo ]] || { log "photograph not found: $photo"; exit 1; }
data=$root/build/bench-data
mkdir -p "$data"
mp=${BENCH_MP:-12}
read -r w h < <(identify -format '%w %h\n' "$photo" 2>/dev/null | head -1)
scale=$(python3 -c "import math; print(math.sqrt($mp*1e6/($w*$h)))")
tw=$(python3 -c "print(int($w*$scale))"); th=$(python3 -c "print(int($h*$scale))")
stamp="$photo ${tw}x${th}"
if [[ ! -f $data/clean8.ppm || "$(cat "$data/source.txt" 2>/dev/null)" != "$stamp" ]]; then
  log "clean image: $photo scaled to ${tw}x${th}"
  convert "$photo" -colorspace sRGB -filter Lanczos -resize "${tw}x${th}!" -depth 8 "$data/clean8.ppm" 2>/dev/null
  convert "$photo" -colorspace sRGB -filter Lanczos -resize "${tw}x${th}!" -depth 16 "$data/clean16.ppm" 2>/dev/null
  echo "$stamp" > "$data/source.txt"
fi

suffix=${HPX_BUILD_SUFFIX:--bench}
if ((native)); then
  log "native build"
  HPX_BUILD_SUFFIX=$suffix cmake --preset native >/dev/null
  cmake --build build/native$suffix -j"${BENCH_JOBS:-8}" --target hpx_bench >/dev/null
  log "native run"
  build/native$suffix/bench/hpx_bench --clean8 "$data/clean8.ppm" --clean16 "$data/clean16.ppm" \
    "${quick[@]}" "${extra[@]}" --out "$data/results-native.txt"
  cmake --build build/native$suffix -j8 --target hpx_view_bench >/dev/null
  build/native$suffix/bench/hpx_view_bench | tee "$data/results-view-native.txt"
fi
if ((wine)); then
  log "win32 build"
  HPX_BUILD_SUFFIX=$suffix cmake --preset win32 -DHPX_DIST_DIR="$root/build/win32$suffix/dist" >/dev/null
  cmake --build build/win32$suffix -j"${BENCH_JOBS:-8}" --target hpx_bench >/dev/null
  log "i686 run under Wine"
  scripts/wine-run.sh build/win32$suffix/bench/hpx_bench.exe --clean8 "$data/clean8.ppm" \
    --clean16 "$data/clean16.ppm" --no-opencv "${quick[@]}" "${extra[@]}" --out "$data/results-i686.txt"
  cmake --build build/win32$suffix -j8 --target hpx_view_bench >/dev/null
  scripts/wine-run.sh build/win32$suffix/bench/hpx_view_bench.exe | tee "$data/results-view-i686.txt"
fi
if ((native && wine)); then
  # The deliverable against the reference of the same run: the i686 rows as ratios to the native
  # OpenCV rows and to the native Hushpix rows, at equal window, bits and thread count.
  python3 - "$data/results-native.txt" "$data/results-i686.txt" <<'PY' | tee "$data/results-ratios.txt"
import sys
def rows(path):
    out = {}
    for line in open(path):
        f = line.split()
        if len(f) >= 7 and f[0] in ("Hushpix", "OpenCV") and f[1].isdigit():
            out[(f[0], int(f[1]), int(f[2]), int(f[3]), int(f[4]))] = float(f[6])
    return out
nat, win = rows(sys.argv[1]), rows(sys.argv[2])
print("\ni686 build (under Wine) against the native rows of this run (MP/s ratios):")
for (lib, bits, sigma, window, threads), mps in sorted(win.items()):
    if lib != "Hushpix":
        continue
    parts = []
    cv = nat.get(("OpenCV", 8, sigma, window, threads))
    if bits == 8 and cv:
        parts.append("i686/OpenCV x%.2f (goal 3)" % (mps / cv))
    own = nat.get(("Hushpix", bits, sigma, window, threads))
    if own:
        parts.append("i686/native %.0f %% (goal 85 %%)" % (100 * mps / own))
    print("%2d bits sigma %d window %2d threads %2d: %.3f MP/s  %s" % (bits, sigma, window, threads, mps, "  ".join(parts)))
PY
fi
