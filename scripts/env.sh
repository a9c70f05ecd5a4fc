# Shared set-up of the build and test scripts: sourced, not run.
# Installs what is missing, builds the cross dependencies (skipped when up to date), and
# gives the Windows programs a display and a Wine prefix.
HPX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export HPX_ROOT

hpx_prepare() {
  "$HPX_ROOT/scripts/install-packages.sh"
  "$HPX_ROOT/scripts/build-deps.sh"
  # Where the kernel refuses 32-bit programs, an emulator runs them; without root it cannot be
  # registered, and the scripts then say the Windows tests did not run.
  "$HPX_ROOT/scripts/enable-i386-emulation.sh" || true
}

# True when the kernel refuses 32-bit x86 programs. Some virtual machines have no 32-bit user
# mode: every i386 executable fails with ENOEXEC, Wine's 32-bit loader among them, so no Windows
# program of this project can run there until scripts/enable-i386-emulation.sh has registered an
# emulator for them.
hpx_kernel_refuses_i386() {
  local out rc=0
  out=$(LC_ALL=C wine --version 2>&1) || rc=$?
  [[ $rc -ne 0 && $out == *"Exec format error"* ]]
}

# Starts a private Xvfb when no display is given (or the given local one has no server: Wine
# then makes no windows, and what it leaves running stalls later runs for minutes), and stops it
# (by its pid) on exit.
hpx_display() {
  local d=${DISPLAY:-}
  d=${d#:}
  if [[ ${DISPLAY:-} == :* && ! -e /tmp/.X11-unix/X${d%%.*} ]]; then
    echo "no X server on $DISPLAY: starting one of our own" >&2
    unset DISPLAY
  fi
  if [[ -z ${DISPLAY:-} ]]; then
    local n
    for n in $(seq 91 120); do
      [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] || break
    done
    Xvfb ":$n" -screen 0 1600x1200x24 -nolisten tcp >/dev/null 2>&1 &
    HPX_XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$n ]] && break; sleep 0.1; done
    trap 'hpx_cleanup' EXIT
  fi
  # Creating a Wine prefix takes 8-14 s the first time: do it before any test's time-out runs.
  "$HPX_ROOT/scripts/wine-run.sh" cmd /c exit >/dev/null 2>&1 || true
}

hpx_cleanup() {
  WINEPREFIX=${WINEPREFIX:-$HOME/.cache/hushpix-wine} wineserver -k >/dev/null 2>&1 || true
  if [[ -n ${HPX_XVFB_PID:-} ]]; then kill "$HPX_XVFB_PID" 2>/dev/null || true; fi
}

# hpx_build PRESET: configure (first time) and build one preset.
hpx_build() {
  local preset=$1
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -- --no-print-directory -s
}
