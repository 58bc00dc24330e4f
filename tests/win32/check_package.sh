#!/usr/bin/env bash
# check_package.sh <zip> <version>: the Windows package's zip as a person
# unpacks it: every entry inside the one top folder ZOLVO_SDK-<version>-win32/,
# the library with every DLL that the package's DLLs import (what is not in
# bin/ must be one of Windows' own, a DLL that the MinGW-w64 import libraries
# name), the import library, the header, the CMake package, README.txt naming
# the version, and the licence text of every bundled component.
set -u -o pipefail
# shellcheck source=../../scripts/win32_deps.sh
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/win32_deps.sh"
zip=${1:?usage: check_package.sh ZIP VERSION}
version=${2:?usage: check_package.sh ZIP VERSION}
top=ZOLVO_SDK-$version-win32
status=0
fail() {
  echo "FAIL $*"
  status=1
}

[ "$(basename "$zip")" = "$top.zip" ] || fail "the zip is named $(basename "$zip"), not $top.zip"
mapfile -t entries < <(unzip -Z1 "$zip")
[ ${#entries[@]} -gt 0 ] || { echo "FAIL no entries in $zip"; exit 1; }
for e in "${entries[@]}"; do
  case $e in
    "$top"/*) ;;
    *) fail "outside the top folder: $e" ;;
  esac
done

required=(bin/ZOLVO_SDK.dll)
for dll in $(win32_package_dlls library); do required+=("bin/$dll"); done
required+=(
  lib/libZOLVO_SDK.dll.a include/zolvo_sdk/zolvo_sdk.h
  lib/cmake/ZOLVO_SDK/ZOLVO_SDKConfig.cmake lib/cmake/ZOLVO_SDK/ZOLVO_SDKConfigVersion.cmake
  lib/cmake/ZOLVO_SDK/ZOLVO_SDKTargets.cmake
  README.txt
  licenses/ZOLVO_SDK.txt
  licenses/curl/COPYING.txt
  licenses/jsoncpp/LICENSE.txt
  licenses/paho.mqtt.c/epl-v20.txt licenses/paho.mqtt.c/edl-v10.txt
  licenses/gcc-runtime/RUNTIME-LIBRARY-EXCEPTION.txt licenses/gcc-runtime/GPL-3.0.txt
  licenses/winpthreads/COPYING.txt licenses/mingw-w64-crt/COPYING.txt
)
# A lookup table, not a pipe into grep -q: under pipefail the writer of such a
# pipe may die of SIGPIPE once grep has its match, and the entry looks missing.
declare -A in_zip=()
for e in "${entries[@]}"; do in_zip[$e]=1; done
for f in "${required[@]}"; do
  [ -n "${in_zip[$top/$f]:-}" ] || fail "missing $top/$f"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q "$zip" -d "$work" || { echo "FAIL cannot unpack $zip"; exit 1; }
grep -q "ZOLVO_SDK $version" "$work/$top/README.txt" || fail "README.txt does not name version $version"
grep -q $'\r$' "$work/$top/README.txt" || fail "README.txt has no Windows line ends"
for f in "${required[@]}"; do
  case $f in licenses/*) [ -s "$work/$top/$f" ] || fail "empty licence text: $f" ;; esac
done

# The DLLs' imports are closed over bin/ and Windows.
dlls=0
for dll in "$work/$top"/bin/*.dll; do
  dlls=$((dlls + 1))
  while read -r name; do
    [ -n "$name" ] || continue
    [ -n "$(find "$work/$top/bin" -maxdepth 1 -iname "$name" -print -quit)" ] && continue
    stem=$(echo "${name%.*}" | tr '[:upper:]' '[:lower:]')
    [ -f "/usr/i686-w64-mingw32/lib/lib$stem.a" ] || fail "$(basename "$dll") needs $name: neither in bin/ nor Windows'"
  done < <(win32_imports "$dll")
done
[ $status -eq 0 ] && echo "ok: ${#entries[@]} entries under $top/, $dlls DLLs, imports closed, licences present"
exit $status
