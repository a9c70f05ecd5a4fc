#!/usr/bin/env bash
# Lets a machine whose kernel refuses 32-bit x86 programs run them after all, so Wine (and with
# it every Windows test and the demo) runs there too. Some virtual machines have no 32-bit user
# mode: every i386 executable fails with "Exec format error". There a user-mode emulator for
# i386 is registered with the kernel's binfmt_misc, so such executables start through it.
#
# Bookworm's emulator (7.2) cannot start 32-bit Wine (kernel32.dll fails to load); the next
# Debian release's does. Its package is fetched with apt into the dependency cache, from the
# mirror this machine already uses, without changing the system's package sources, and only
# the statically linked i386 emulator is taken from it.
#
# Does nothing where 32-bit programs run natively or the emulator is already registered.
# Exit code 0 when 32-bit programs run afterwards.
set -euo pipefail
source "$(dirname "$0")/env.sh"

log() { printf '[i386] %s\n' "$*" >&2; }

hpx_kernel_refuses_i386 || exit 0
if [[ $(id -u) != 0 ]]; then
  log "32-bit programs do not run here, and registering an emulator needs root"
  exit 1
fi

cache=${HPX_DEPS_CACHE:-$HOME/.cache/hushpix-deps}/i386-emulator
emulator=$cache/qemu-i386
suite=trixie

if [[ ! -x $emulator ]]; then
  mirror=$(sed -n 's/^URIs: *\(http[^ ]*\/debian\)$/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -1)
  [[ -n $mirror ]] || mirror=$(sed -n 's/^deb \(http[^ ]*\/debian\) .*/\1/p' /etc/apt/sources.list 2>/dev/null | head -1)
  [[ -n $mirror ]] || { log "no Debian mirror found in the package sources"; exit 1; }
  log "fetching the i386 user-mode emulator from $suite"
  apt_dir=$cache/apt
  rm -rf "$apt_dir"
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial" "$apt_dir/deb"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $suite main" >"$apt_dir/sources.list"
  apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache::Archives=$apt_dir/archives"
    -o APT::Architectures::=amd64 -o APT::Sandbox::User=root)
  apt-get "${apt_opts[@]}" update -qq
  (cd "$apt_dir/deb" && apt-get "${apt_opts[@]}" download -qq qemu-user)
  dpkg-deb -x "$apt_dir"/deb/qemu-user_*.deb "$apt_dir/x"
  install -m 755 "$apt_dir/x/usr/bin/qemu-i386" "$emulator.new"
  mv "$emulator.new" "$emulator"
  rm -rf "$apt_dir"
fi

binfmt=/proc/sys/fs/binfmt_misc
[[ -e $binfmt/register ]] || mount -t binfmt_misc binfmt_misc "$binfmt"
# Any ELF executable for i386; F opens the emulator now, so it serves every mount namespace.
[[ -e $binfmt/hushpix-i386 ]] && echo -1 >"$binfmt/hushpix-i386"
magic='\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\xfc\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
echo ":hushpix-i386:M::$magic:$mask:$emulator:OCPF" >"$binfmt/register"

if hpx_kernel_refuses_i386; then
  log "the emulator is registered, yet 32-bit programs still do not start"
  exit 1
fi
log "32-bit programs now start through $emulator"
