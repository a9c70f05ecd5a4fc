#!/usr/bin/env bash
# Runs the benchmarks: Hushpix natively next to OpenCV's non-local means, then the same Hushpix
# runs as the 32-bit Windows build under Wine (the i686 figures); the view's redraw, the panel's
# preview and the done step's detail gains of a whole-image run (both builds); the batch's
# throughput against the engine's (i686 only). It ends with a summary: the gains' share, the
# batch throughput, the thread scaling of both builds and the i686 ratios.
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
#   BENCH_JOBS    build jobs (default 8)
# The Windows programs get a display of their own when none is given (as scripts/test.sh does).
# The full run takes roughly 15-25 minutes natively on 8 cores; --quick takes a few minutes.
set -euo pipefail
source "$(dirname "$0")/env.sh"
cd "$HPX_ROOT"
root=$PWD
log() { printf '[bench] %s\n' "$*" >&2; }
# bench NAME OUTPUT-FILE COMMAND...: runs one benchmark, its output shown and kept in the file.
# One that fails is reported and the others still run; the script then fails at the end.
failed=()
bench() {
  local name=$1 file=$2
  shift 2
  "$@" | tee "$file" || { log "$name failed"; failed+=("$name"); }
}

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
  apt-get update -qq >/dev/null 2>&1 || log "apt-get update failed for some indexes: going on with the others"
  install=(apt-get install -y -qq --no-install-recommends)
  if ! DEBIAN_FRONTEND=noninteractive "${install[@]}" "${missing[@]}" >/dev/null; then
    # As in install-packages.sh: with one architecture's index of a suite missing, the release
    # itself preferred for every architecture resolves the install.
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    log "the install could not be resolved: trying again with ${release:-?} preferred for every architecture"
    DEBIAN_FRONTEND=noninteractive "${install[@]}" -o APT::Default-Release="$release" "${missing[@]}" >/dev/null
  fi
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
jobs=${BENCH_JOBS:-8}
if ((${#quick[@]})); then
  batch_args=(--count 4 --rounds 1)  # enough photos for the overlap of reading, job and saving
else
  batch_args=()
fi
if ((wine)); then
  "$root/scripts/enable-i386-emulation.sh" || true
  if hpx_kernel_refuses_i386; then
    log "this machine runs no 32-bit x86 programs (and no emulator could be registered): no i686 figures"
    wine=0
  fi
fi
if ((native)); then
  log "native build"
  HPX_BUILD_SUFFIX=$suffix cmake --preset native >/dev/null
  cmake --build build/native$suffix -j"$jobs" --target hpx_bench hpx_view_bench hpx_panel_bench >/dev/null
  log "native run"
  bench "native hpx_bench" /dev/null build/native$suffix/bench/hpx_bench --clean8 "$data/clean8.ppm" \
    --clean16 "$data/clean16.ppm" "${quick[@]}" "${extra[@]}" --out "$data/results-native.txt"
  bench "native hpx_view_bench" "$data/results-view-native.txt" build/native$suffix/bench/hpx_view_bench
  bench "native hpx_panel_bench" "$data/results-panel-native.txt" build/native$suffix/bench/hpx_panel_bench
fi
if ((wine)); then
  log "win32 build"
  HPX_BUILD_SUFFIX=$suffix cmake --preset win32 -DHPX_DIST_DIR="$root/build/win32$suffix/dist" >/dev/null
  cmake --build build/win32$suffix -j"$jobs" --target hpx_bench hpx_view_bench hpx_panel_bench hpx_batch_bench \
    >/dev/null
  hpx_display
  log "i686 run under Wine"
  w=build/win32$suffix/bench
  bench "i686 hpx_bench" /dev/null scripts/wine-run.sh $w/hpx_bench.exe --clean8 "$data/clean8.ppm" \
    --clean16 "$data/clean16.ppm" --no-opencv "${quick[@]}" "${extra[@]}" --out "$data/results-i686.txt"
  bench "i686 hpx_view_bench" "$data/results-view-i686.txt" scripts/wine-run.sh $w/hpx_view_bench.exe
  bench "i686 hpx_panel_bench" "$data/results-panel-i686.txt" scripts/wine-run.sh $w/hpx_panel_bench.exe
  bench "i686 hpx_batch_bench" "$data/results-batch-i686.txt" \
    scripts/wine-run.sh $w/hpx_batch_bench.exe "${batch_args[@]}"
fi
# The summary, from the result files of this run: the whole-image run's detail gains and the
# batch throughput (i686), the scaling lines of both builds with their ratios, and last the i686
# rows as ratios to the native OpenCV rows and to the native Hushpix rows, at equal window, bits
# and thread count.
python3 - "$data" "$native" "$wine" <<'PY' | tee "$data/results-summary.txt"
import os, re, sys
data, ran = sys.argv[1], {"native": sys.argv[2] == "1", "i686": sys.argv[3] == "1"}
def lines(name):
    # Only the files of the builds run now (an earlier run's may lie there too).
    path = os.path.join(data, name)
    build = "native" if "native" in name else "i686"
    return open(path).read().splitlines() if ran[build] and os.path.exists(path) else []

print("\nsummary of this run")
for build in ("native", "i686"):
    for line in lines("results-panel-%s.txt" % build):
        if "detail gains of the done step" in line:
            print("%-6s whole-image run: %s" % (build, line.strip()))
for line in lines("results-batch-i686.txt"):
    if line.startswith("batch throughput:") or line.startswith("batch of "):
        print("i686   " + line.strip())

def scaling(name):
    out = {}  # in the order printed
    for line in lines(name):
        if line.startswith("scaling quality"):
            key = line.split("  ")[0]
            out[key] = (line, {int(n): float(v) for n, v in re.findall(r"(\d+): ([\d.]+) MP/s", line)})
    return out
nat_s, win_s = scaling("results-native.txt"), scaling("results-i686.txt")
if nat_s or win_s:
    print("\nthread scaling of whole jobs (MP/s by processors):")
for key in list(nat_s) + [k for k in win_s if k not in nat_s]:
    for build, table in (("native", nat_s), ("i686", win_s)):
        if key in table:
            print("%-6s %s" % (build, table[key][0]))
    if key in nat_s and key in win_s:
        own, mine = nat_s[key][1], win_s[key][1]
        parts = ["%d: %.0f %%" % (n, 100 * mine[n] / own[n]) for n in sorted(mine) if own.get(n)]
        print("       i686/native  " + "  ".join(parts) + "  (goal 85 % on one, 75 % on all)")

def rows(name):
    out = {}
    for line in lines(name):
        f = line.split()
        if len(f) >= 7 and f[0] in ("Hushpix", "OpenCV") and f[1].isdigit():
            out[(f[0], int(f[1]), int(f[2]), int(f[3]), int(f[4]))] = float(f[6])
    return out
nat, win = rows("results-native.txt"), rows("results-i686.txt")
if win:
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
if ((${#failed[@]})); then
  log "failed: ${failed[*]}"
  exit 1
fi
