#!/usr/bin/env bash
# Fuzzes the EXIF reader with clang's libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer:
#   scripts/fuzz-exif.sh [SECONDS]     (default 60)
# Builds the target into build/fuzz-exif, replays the committed seed corpus (real blocks made by
# tests/exif/make-corpus.sh), then fuzzes for SECONDS. New inputs go to build/fuzz-exif/corpus,
# never into the repository. Any finding (crash, leak, undefined behaviour, time-out) leaves its
# input in build/fuzz-exif/ and makes the script fail.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
out=$root/build/fuzz-exif
seeds=$root/tests/exif/corpus
mkdir -p "$out/corpus"

clang++ -std=c++17 -g -O1 -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I"$root" "$root/imagefiles/ExifReader.cpp" "$root/tests/exif/exif_fuzzer.cpp" \
  -o "$out/exif_fuzzer"

cd "$out"
echo "[fuzz-exif] replaying $(ls "$seeds" | wc -l) seed blocks"
./exif_fuzzer -runs=0 "$seeds" 2>&1 | tail -n 2
echo "[fuzz-exif] fuzzing for $seconds s"
# -timeout: an input taking seconds means the walk is not bounded; -malloc_limit_mb: no input may
# make the reader allocate much (the RSS limit leaves room for ASan's own few hundred MB).
# Seeds come second so that new inputs are written to corpus/.
set +e
./exif_fuzzer -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -malloc_limit_mb=64 -max_len=4096 \
  -print_final_stats=1 -artifact_prefix="$out/" corpus "$seeds" >"$out/fuzz.log" 2>&1
status=$?
set -e
grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb|SUMMARY)|ERROR' "$out/fuzz.log" || true
if ((status != 0)); then
  tail -n 40 "$out/fuzz.log" >&2
  echo "[fuzz-exif] FINDING (exit $status); log: $out/fuzz.log" >&2
  exit 1
fi
echo "[fuzz-exif] $seconds s without a finding"
