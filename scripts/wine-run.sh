#!/bin/sh
# Runs a 32-bit Windows program under Wine, quietly and without dialogs.
#   WINEPREFIX  default: $HOME/.cache/hushpix-wine (made on first use, 8-14 s)
#   DISPLAY     default :91; scripts/test.sh starts an Xvfb there when none is given
: "${WINEPREFIX:=$HOME/.cache/hushpix-wine}"
: "${WINEARCH:=win32}"
: "${WINEDEBUG:=-all}"
# No Mono/Gecko install prompts, no menu entries written, and no debugger: a crashing test
# program ends at once instead of waiting in winedbg until its time-out.
: "${WINEDLLOVERRIDES:=mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d}"
: "${DISPLAY:=:91}"
export WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES DISPLAY
if [ ! -f "$WINEPREFIX/.init-done" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  # ctest -j starts many programs at once: only one of them creates the prefix
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.init-done" ]; then
      wineboot --init >/dev/null 2>&1 && wineserver -w && touch "$WINEPREFIX/.init-done"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
exec wine "$@"
