#!/usr/bin/env bash
# Builds everything for 32-bit Windows and runs the plug-in on an image in the project's
# test host under Wine, the way an image editor would:
#   scripts/demo.sh [input-image] [output-image]
# Without an input it makes a noisy sample photograph-like picture. The host's output
# (what the plug-in handed back) is written to the output image (default: build/demo/out.png);
# the plug-in's window, as it showed the image, is written beside it as <output>-window.png.
set -euo pipefail
source "$(dirname "$0")/env.sh"
cd "$HPX_ROOT"
hpx_prepare
hpx_build win32

mkdir -p build/demo
in=${1:-}
out=${2:-build/demo/out.png}
if [[ -z $in ]]; then
  in=build/demo/sample.png
  # A smooth, detailed picture with added noise: something worth denoising.
  convert -seed 7 -size 800x600 plasma:fractal -blur 0x2 -attenuate 0.6 +noise Gaussian -depth 8 "$in"
fi

hpx_display
host=build/win32/tests/host/hpx_testhost.exe
if [[ ! -f $host ]]; then
  echo "the test host is not built" >&2
  exit 1
fi
winpath() { printf 'Z:%s' "$(realpath -m "$1" | tr / '\\')"; }
shot=${out%.*}-window.png
scripts/wine-run.sh "$host" "$(winpath dist/Hushpix.8bf)" "$(winpath "$in")" "$(winpath "$out")" \
  --screenshot "$(winpath "$shot")"
echo "input:  $in"
echo "output: $out"
echo "window: $shot"
