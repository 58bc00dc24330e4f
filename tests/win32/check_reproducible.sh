#!/usr/bin/env bash
# check_reproducible.sh <checkout> <library build folder> <unpacked package>:
# 1. no DLL of the package carries a build path: strings finds neither the
#    checkout's path nor "build-win32/" in them;
# 2. the library built again from the same sources, from a copy of the
#    checkout in another folder, from the checkout into another build folder,
#    and against a copy of the dependencies in another folder, gives
#    ZOLVO_SDK.dll and libZOLVO_SDK.dll.a byte for byte as the library build
#    folder has them, and stripped as the package does, the package's
#    ZOLVO_SDK.dll;
# 3. the DLL's first import descriptors are the dependencies', whatever the
#    folders: the linker orders them by the path of their import libraries,
#    which the build gives relative to itself.
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

# The dependencies' prefix (the first of the build's prefixes), copied elsewhere.
deps_prefix=${prefix%%;*}
cp -r "$deps_prefix" "$work/moved-prefix" || { echo "FAIL cannot copy $deps_prefix"; exit 1; }

# rebuild <source folder> <build folder> <dependency prefix>: the library
# alone, as windows.sh configures it.
rebuild() {
  { cmake -S "$1" -B "$2" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DZOLVO_WIN32_PREFIX="$3" \
      -DCMAKE_BUILD_TYPE=Release -DZOLVO_BUILD_DEMO=OFF -DZOLVO_BUILD_TESTS=OFF \
      -DZOLVO_BUILD_BENCH=OFF -DZOLVO_BUILD_WIN32_TESTS=OFF &&
    cmake --build "$2" -j "${ZOLVO_JOBS:-4}" --target ZOLVO_SDK; } >"$2.log" 2>&1
}

for run in "other-checkout:$work/elsewhere/checkout:$work/elsewhere/build:$prefix" \
  "other-build-folder:$root:$work/build-again:$prefix" \
  "other-dependency-folder:$root:$work/build-moved:$work/moved-prefix"; do
  IFS=: read -r name src out deps <<<"$run"
  rebuild "$src" "$out" "$deps" || { fail "$name: the build failed: $(tail -n 3 "$out.log")"; continue; }
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
first=$(i686-w64-mingw32-objdump -p "$build/zolvo_sdk/ZOLVO_SDK.dll" | sed -n 's/^\s*DLL Name: //p' |
  head -n 3 | tr '\n' ' ')
if [ "$first" = "libcurl.dll libjsoncpp.dll libpaho-mqtt3c.dll " ]; then
  echo "ok   the dependencies' import descriptors come first"
else
  fail "the first import descriptors are $first"
fi
exit $status
