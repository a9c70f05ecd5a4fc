#!/usr/bin/env bash
# Runs every test: the engine natively (plain and under AddressSanitizer +
# UndefinedBehaviorSanitizer), the EXIF fuzzer for a short while, then the 32-bit Windows
# build of everything under Wine. Works on a fresh Debian machine: it installs what it needs.
set -euo pipefail
source "$(dirname "$0")/env.sh"
cd "$HPX_ROOT"
hpx_prepare

for preset in native-asan native; do
  echo "== $preset: build and test"
  hpx_build "$preset"
  ctest --preset "$preset" --progress
done

if [[ -x scripts/fuzz-exif.sh ]]; then
  echo "== EXIF fuzzer"
  scripts/fuzz-exif.sh "${HPX_FUZZ_SECONDS:-60}"
fi

echo "== win32: build and test under Wine"
hpx_display
hpx_build win32
ctest --preset win32 --progress
