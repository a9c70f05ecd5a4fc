#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and only those that are missing.
# Safe to run again: with everything present it does nothing and takes well under a second.
set -euo pipefail

log() { printf '[packages] %s\n' "$*" >&2; }

pkgs=(
  # cross toolchain for the 32-bit Windows deliverables
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 libz-mingw-w64-dev nasm
  # build tools
  cmake make ninja-build dpkg-dev xz-utils pkg-config g++ clang
  # the house format's check (scripts/check-format.sh)
  clang-format
  # libFuzzer and the sanitizer runtimes for clang (only recommended by clang, not pulled in)
  libclang-rt-14-dev
  # header-only and test dependencies
  libsimpleini-dev googletest
  # running the Windows programs: 32-bit Wine, a virtual X server, Mesa's GL for i386
  wine wine32:i386 xvfb xauth libgl1:i386 libglx-mesa0:i386 libgl1-mesa-dri:i386
  # test data: real EXIF blocks and reference images
  libimage-exiftool-perl imagemagick
)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

if [[ $(id -u) != 0 ]]; then
  missing=(); for p in "${pkgs[@]}"; do installed "$p" || missing+=("$p"); done
  ((${#missing[@]} == 0)) || { log "not root and missing: ${missing[*]}"; exit 1; }
  exit 0
fi

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  log "adding the i386 architecture"
  dpkg --add-architecture i386
  need_update=1
fi
# apt-get source (the FreeImage and GLEW sources) needs a deb-src entry
if ! grep -rqs '^Types:.*deb-src\|^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  log "adding a deb-src entry for bookworm"
  cat >/etc/apt/sources.list.d/hushpix-src.sources <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  need_update=1
fi

missing=(); for p in "${pkgs[@]}"; do installed "$p" || missing+=("$p"); done
if ((${#missing[@]} || need_update)); then
  if ((${#missing[@]})); then log "installing: ${missing[*]}"; fi
  # A mirror in the middle of a sync can fail one index ("File has unexpected size"): try the
  # update a few times, then go on with what did arrive.
  for try in 1 2 3; do
    if apt-get update -qq; then break; fi
    if ((try == 3)); then
      log "apt-get update failed for some indexes three times: going on with the indexes that did arrive"
    else
      log "apt-get update failed for some indexes (try $try of 3): trying again"; sleep 5
    fi
  done
  if ((${#missing[@]})); then
    install=(apt-get install -y -qq --no-install-recommends)
    if ! DEBIAN_FRONTEND=noninteractive "${install[@]}" "${missing[@]}" >/dev/null; then
      # When one architecture's index of a suite failed, the i386 packages cannot match the
      # amd64 versions taken from that suite. Preferring the release itself for both
      # architectures gives them one version each.
      release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
      [[ -n $release ]] || { log "the install could not be resolved and the release is unknown"; exit 1; }
      log "the install could not be resolved: trying again with $release preferred for every architecture"
      DEBIAN_FRONTEND=noninteractive "${install[@]}" -o APT::Default-Release="$release" "${missing[@]}" >/dev/null
      log "installed with $release preferred for every architecture"
    fi
  fi
fi
