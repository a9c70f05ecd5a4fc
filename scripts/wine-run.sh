#!/bin/sh
# Runs a 32-bit Windows program under Wine, quietly and without dialogs.
#   WINEPREFIX        default: $HOME/.cache/hushpix-wine (made on first use, 8-14 s)
#   DISPLAY           default :91; scripts/test.sh starts an Xvfb there when none is given
#   HPX_WINE_DESKTOP  a size (1600x1000): the program runs in a Wine virtual desktop of its own.
#                     There Wine manages the windows as Windows does (a maximised window takes the
#                     desktop's size at once and keeps it), which it does not on a bare X server
#                     without a window manager; and programs run side by side (ctest -j) do not
#                     see each other's windows. Costs 1-3 s a run. The window tests and the demo
#                     set it; unset or "none" (and always for a test listing): no desktop.
: "${WINEPREFIX:=$HOME/.cache/hushpix-wine}"
: "${WINEARCH:=win32}"
: "${WINEDEBUG:=-all}"
# No Mono/Gecko install prompts, no menu entries written, and no debugger: a crashing test
# program ends at once instead of waiting in winedbg until its time-out.
: "${WINEDLLOVERRIDES:=mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d}"
: "${DISPLAY:=:91}"
: "${HPX_WINE_DESKTOP:=none}"
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
case " $* " in *" --gtest_list_tests "*) HPX_WINE_DESKTOP=none ;; esac
[ "$HPX_WINE_DESKTOP" = none ] && exec wine "$@"

# "explorer /desktop=NAME,SIZE command" runs the command in that desktop and passes its output
# through, but always ends with exit code 0 (about a second after the desktop's last program).
# So the command is a batch file that runs the program and writes its exit code to a file.
dir=$(mktemp -d "${TMPDIR:-/tmp}/hpx-wine.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
trap 'exit 1' HUP INT TERM
winpath() { printf 'Z:%s' "$(realpath -m "$1")" | tr / '\\'; }
prog=$1
shift
[ -f "$prog" ] && prog=$(winpath "$prog")
# Each argument quoted; in a batch file "%" must be doubled, and a backslash before the closing
# quote doubled so the program reads it as a backslash.
line=$(printf '"%s"' "$prog" | sed 's/%/%%/g')
for a in "$@"; do
  line="$line $(printf '"%s"' "$(printf '%s' "$a" | sed 's/%/%%/g; s/\\*$/&&/')")"
done
printf '@echo off\r\n%s\r\n>"%s" echo %%errorlevel%%\r\n' "$line" "$(winpath "$dir/rc")" >"$dir/run.cmd"
wine explorer "/desktop=${dir##*/},$HPX_WINE_DESKTOP" cmd /c "$(winpath "$dir/run.cmd")"
rc=$(tr -d ' \r\n' <"$dir/rc" 2>/dev/null)
case $rc in
  '' | *[!0-9-]*)
    echo "wine-run.sh: $prog did not report an exit code" >&2
    exit 1
    ;;
esac
# As the shell sees a program's exit code (its low byte), but a failure never reads as success.
[ "$rc" -eq 0 ] || { rc=$((rc & 255)); [ "$rc" -ne 0 ] || rc=1; }
exit "$rc"
