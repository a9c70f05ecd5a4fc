#!/bin/sh
# Runs a Windows test program under Wine on a private Xvfb screen of 16 bits per pixel.
#   run-depth16.sh <wine-run.sh> <program.exe> [arguments...]
# The server is started on the first free display of :93 and :94 and stopped by its pid when the
# program ends, whatever its result.
set -u
runner=$1
shift

display=""
for n in 93 94; do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
    display=$n
    break
  fi
done
if [ -z "$display" ]; then
  echo "run-depth16: displays :93 and :94 are both taken" >&2
  exit 1
fi

Xvfb ":$display" -screen 0 1280x1024x16 -nolisten tcp >/dev/null 2>&1 &
xpid=$!
trap 'kill "$xpid" 2>/dev/null; wait "$xpid" 2>/dev/null' EXIT INT TERM

i=0
while [ ! -e "/tmp/.X11-unix/X$display" ]; do
  i=$((i + 1))
  if [ $i -gt 100 ] || ! kill -0 "$xpid" 2>/dev/null; then
    echo "run-depth16: Xvfb :$display did not start" >&2
    exit 1
  fi
  sleep 0.1
done

DISPLAY=":$display" sh "$runner" "$@"
