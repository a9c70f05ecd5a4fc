#!/usr/bin/env bash
# Builds everything for 32-bit Windows and runs the plug-in on an image in the project's
# test host under Wine, the way an image editor would:
#   scripts/demo.sh [input-image] [output-image]
# Without an input it makes a clean photograph-like picture and a noisy sample of it. A scripted
# user in the host sets the luma and chroma strengths on the panel's trackbars (DEMO_STRENGTHS,
# trackbar positions = strength x 20, default 400,400), presses Denoise, waits for "Redefine",
# writes a screenshot of the window beside the output (<output>-window.png; the window is maximised
# in a 1600 x 1000 Wine virtual desktop, HPX_WINE_DESKTOP to change it) and closes the
# window; the host writes what the plug-in handed back to the output image (default:
# build/demo/out.png). With the generated sample the PSNR of the noisy input and of the output
# against the clean picture are printed.
set -euo pipefail
source "$(dirname "$0")/env.sh"
cd "$HPX_ROOT"
hpx_prepare
hpx_build win32
if hpx_kernel_refuses_i386; then
  echo "This machine's kernel refuses 32-bit x86 programs: Wine, and so the test host, cannot run" >&2
  echo "here. The deliverables are built in dist/." >&2
  exit 1
fi

mkdir -p build/demo
in=${1:-}
out=${2:-build/demo/out.png}
clean=
if [[ -z $in ]]; then
  in=build/demo/sample.png
  clean=build/demo/clean.png
  # A smooth, detailed picture, and the same with added noise: something worth denoising.
  convert -seed 7 -size 640x480 plasma:fractal -blur 0x2 -depth 8 "$clean"
  convert "$clean" -seed 11 -attenuate 0.6 +noise Gaussian -depth 8 "$in"
fi

hpx_display
host=build/win32/tests/host/hpx_testhost.exe
if [[ ! -f $host ]]; then
  echo "the test host is not built" >&2
  exit 1
fi
winpath() { printf 'Z:%s' "$(realpath -m "$1" | tr / '\\')"; }
shot=${out%.*}-window.png
# In a virtual desktop of its own the window is maximised as on Windows (see scripts/wine-run.sh).
HPX_WINE_DESKTOP=${HPX_WINE_DESKTOP:-1600x1000} scripts/wine-run.sh "$host" "$(winpath dist/Hushpix.8bf)" "$(winpath "$in")" "$(winpath "$out")" \
  --no-about --no-repeat --demo-user "${DEMO_STRENGTHS:-400,400}" --screenshot "$(winpath "$shot")"
echo "input:  $in"
echo "output: $out"
echo "window: $shot"
if [[ -n $clean ]]; then
  psnr() { compare -metric PSNR "$clean" "$1" null: 2>&1 | awk '{print $1}'; }
  echo "PSNR against the clean picture: input $(psnr "$in") dB, output $(psnr "$out") dB"
fi
