#!/usr/bin/env bash
# check_reproducible.sh <checkout> <library build folder> <dist folder>:
# 1. no program, DLL or import library of the two zips in the dist folder (the
#    library's ZOLVO_SDK-<version>-win32.zip and the demo's, when it is there)
#    holds a build path: strings finds neither the checkout's path, nor the
#    build folders', nor "build-win32/" in them;
# 2. the demo zip's ZOLVO_SDK.dll and the library's dependencies in it are
#    the library zip's files, byte for byte;
# 3. the library's zip made again from the same sources, from a copy of the
#    checkout in another folder with scripts/windows.sh --library-only (the
#    dependencies built there too), is the same zip byte for byte;
# 4. the DLL's first import descriptors are the dependencies', whatever the
#    folders: the linker orders them by the path of their import libraries,
#    which the build gives relative to itself.
set -u -o pipefail
# shellcheck source=../../scripts/win32_deps.sh
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/win32_deps.sh"
usage="usage: check_reproducible.sh CHECKOUT BUILD_FOLDER DIST_FOLDER"
root=${1:?$usage}
build=${2:?$usage}
dist=${3:?$usage}
status=0
fail() {
  echo "FAIL $*"
  status=1
}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
sdk_zip=$dist/ZOLVO_SDK-$version-win32.zip
demo_zip=$dist/ZOLVO_SDK_DEMO-$version-win32.zip
[ -f "$sdk_zip" ] || { echo "FAIL no $sdk_zip"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 1. Build paths, in every binary of the zips as a user unpacks them.
win32_build=$(cd "$build/.." && pwd)
paths=(-e "$root" -e "$build" -e "$win32_build" -e "build-win32/")
for zip in "$sdk_zip" "$demo_zip"; do
  [ -f "$zip" ] || continue
  name=$(basename "$zip" .zip)
  mkdir -p "$work/unpacked/$name"
  unzip -q "$zip" -d "$work/unpacked/$name" || { fail "cannot unpack $zip"; continue; }
  binaries=0
  while read -r file; do
    binaries=$((binaries + 1))
    hits=$( { strings -a "$file"; strings -a -el "$file"; } | grep -F "${paths[@]}")
    [ -z "$hits" ] ||
      fail "$name: ${file#"$work/unpacked/$name/"} holds $(echo "$hits" | wc -l) build paths: $(echo "$hits" | head -n 3 | tr '\n' ' ')"
  done < <(find "$work/unpacked/$name" -type f \( -iname '*.dll' -o -iname '*.exe' -o -iname '*.a' \))
  echo "ok   $name: $binaries programs, DLLs and import libraries searched for build paths"
done

# 2. One library in both zips.
if [ -f "$demo_zip" ]; then
  sdk_bin=$work/unpacked/ZOLVO_SDK-$version-win32/ZOLVO_SDK-$version-win32/bin
  demo_top=$work/unpacked/ZOLVO_SDK_DEMO-$version-win32/ZOLVO_SDK_DEMO-$version-win32
  for dll in ZOLVO_SDK.dll $(win32_dependency_dlls library); do
    if cmp -s "$sdk_bin/$dll" "$demo_top/$dll"; then
      echo "ok   $dll: the same bytes in both zips"
    else
      fail "$dll differs between the library's zip and the demo's"
    fi
  done
fi

# 3. The library's zip again, from a copy of what its build reads, elsewhere.
copy=$work/elsewhere/checkout
mkdir -p "$copy/tests/win32"
(cd "$root" && cp -r CMakeLists.txt LICENSE cmake zolvo_sdk packaging scripts "$copy/" &&
  cp tests/win32/check_exports.sh "$copy/tests/win32/") || { echo "FAIL cannot copy the sources"; exit 1; }
epoch=$(git -C "$root" log -1 --format=%ct) || { echo "FAIL no last commit in $root"; exit 1; }
werror=$(sed -n 's/^ZOLVO_WERROR:[A-Z]*=//p' "$build/CMakeCache.txt")
if ! SOURCE_DATE_EPOCH=$epoch ZOLVO_WERROR=${werror:-OFF} ZOLVO_WIN32_BUILD_DIR="$work/elsewhere/build-win32" \
  bash "$copy/scripts/windows.sh" --library-only >"$work/again.log" 2>&1; then
  fail "the library's package made again failed: $(tail -n 3 "$work/again.log")"
elif cmp -s "$sdk_zip" "$work/elsewhere/build-win32/dist/$(basename "$sdk_zip")"; then
  echo "ok   $(basename "$sdk_zip") made again in another folder: the same bytes ($(sha256sum <"$sdk_zip" | cut -d' ' -f1))"
else
  fail "$(basename "$sdk_zip") made again in another folder differs: $(cd "$work" &&
    diff <(unzip -v "$sdk_zip") <(unzip -v "elsewhere/build-win32/dist/$(basename "$sdk_zip")") | grep '^[<>]' | head -n 4 | tr '\n' ' ')"
fi

# 4. The import order.
dependencies=$(win32_dependency_dlls library | tr '\n' ' ')
first=$(win32_imports "$build/zolvo_sdk/ZOLVO_SDK.dll" | head -n "$(wc -w <<<"$dependencies")" | tr '\n' ' ')
if [ "$first" = "$dependencies" ]; then
  echo "ok   the dependencies' import descriptors come first"
else
  fail "the first import descriptors are $first"
fi
exit $status
