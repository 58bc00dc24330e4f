#!/usr/bin/env bash
# check_reproducible.sh <checkout> <library build folder> <unpacked package>:
# 1. no DLL of the package carries a build path: strings finds neither the
#    checkout's path nor "build-win32/" in them;
# 2. the library built again from the same sources, once from a copy of the
#    checkout in another folder and once from the checkout into another build
#    folder, gives ZOLVO_SDK.dll and libZOLVO_SDK.dll.a byte for byte as the
#    library build folder has them, and stripped as the package does, the
#    package's ZOLVO_SDK.dll.
set -u -o pipefail
root=${1:?usage: check_reproducible.sh CHECKOUT BUILD_FOLDER PACKAGE}
build=${2:?usage: check_reproducible.sh CHECKOUT BUILD_FOLDER PACKAGE}
package=${3:?usage: check_reproducible.sh CHECKOUT BUILD_FOLDER PACKAGE}
status=0
fail() {
  echo "FAIL $*"
  status=1
}

for dll in "$package"/bin/*.dll; do
  hits=$( { strings -a "$dll"; strings -a -el "$dll"; } | grep -c -e "$root" -e "build-win32/")
  [ "$hits" -eq 0 ] || fail "$(basename "$dll") holds $hits build paths: $( { strings -a "$dll"; strings -a -el "$dll"; } | grep -e "$root" -e "build-win32/" | head -n 3 | tr '\n' ' ')"
done

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
toolchain=$(cache_value CMAKE_TOOLCHAIN_FILE)
prefix=$(cache_value ZOLVO_WIN32_PREFIX)
strip_tool=$(cache_value CMAKE_STRIP)
if [ -z "$toolchain" ] || [ -z "$prefix" ]; then
  echo "FAIL no toolchain or prefix in $build/CMakeCache.txt"
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The copy holds what the library's build reads, under another path.
mkdir -p "$work/elsewhere/checkout"
(cd "$root" && cp -r CMakeLists.txt cmake zolvo_sdk packaging "$work/elsewhere/checkout/") ||
  { echo "FAIL cannot copy the sources"; exit 1; }

# rebuild <source folder> <build folder>: the library alone, as windows.sh configures it.
rebuild() {
  { cmake -S "$1" -B "$2" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DZOLVO_WIN32_PREFIX="$prefix" \
      -DCMAKE_BUILD_TYPE=Release -DZOLVO_BUILD_DEMO=OFF -DZOLVO_BUILD_TESTS=OFF \
      -DZOLVO_BUILD_BENCH=OFF -DZOLVO_BUILD_WIN32_TESTS=OFF &&
    cmake --build "$2" -j "${ZOLVO_JOBS:-4}" --target ZOLVO_SDK; } >"$2.log" 2>&1
}

for run in "other-checkout:$work/elsewhere/checkout:$work/elsewhere/build" \
  "other-build-folder:$root:$work/build-again"; do
  IFS=: read -r name src out <<<"$run"
  rebuild "$src" "$out" || { fail "$name: the build failed: $(tail -n 3 "$out.log")"; continue; }
  for f in ZOLVO_SDK.dll libZOLVO_SDK.dll.a; do
    a=$(sha256sum <"$build/zolvo_sdk/$f" | cut -d' ' -f1)
    b=$(sha256sum <"$out/zolvo_sdk/$f" | cut -d' ' -f1)
    if [ "$a" = "$b" ]; then echo "ok   $name: $f $b"; else fail "$name: $f differs ($a, again $b)"; fi
  done
  cp "$out/zolvo_sdk/ZOLVO_SDK.dll" "$work/stripped.dll"
  SOURCE_DATE_EPOCH=0 "$strip_tool" --strip-unneeded "$work/stripped.dll" || fail "cannot strip"
  if cmp -s "$work/stripped.dll" "$package/bin/ZOLVO_SDK.dll"; then
    echo "ok   $name: stripped, the package's ZOLVO_SDK.dll"
  else
    fail "$name: stripped, it differs from the package's ZOLVO_SDK.dll"
  fi
done
exit $status
