#!/usr/bin/env bash
# Each deliverable must be a single PE32 i386 file that a user can copy anywhere: it may
# import only DLLs that every Windows installation has, never the MinGW runtime DLLs.
set -euo pipefail
dist=$1
objdump=i686-w64-mingw32-objdump
fail=0
for f in Hushpix.8bf HPXProcessGPU.exe; do
  p=$dist/$f
  [[ -f $p ]] || { echo "missing $p"; fail=1; continue; }
  info=$($objdump -p "$p")
  grep -q 'Magic.*010b' <<<"$info" || { echo "$f: not PE32"; fail=1; }
  $objdump -f "$p" | grep -q 'architecture: i386' || { echo "$f: not i386"; fail=1; }
  imports=$(awk '/DLL Name:/{print tolower($3)}' <<<"$info" | sort -u)
  echo "$f imports: $(echo $imports)"
  if grep -Eq 'libstdc|libgcc|libwinpthread|freeimage|glew' <<<"$imports"; then
    echo "$f: imports a runtime or third-party DLL"; fail=1
  fi
done
# The host finds the entry point by its plain, undecorated name.
$objdump -p "$dist/Hushpix.8bf" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -qw 'PluginMain' ||
  { echo "Hushpix.8bf: PluginMain is not exported by that name"; fail=1; }
$objdump -p "$dist/Hushpix.8bf" | grep -A6 '^Characteristics' | grep -qw DLL ||
  { echo "Hushpix.8bf: not a DLL"; fail=1; }
exit $fail
