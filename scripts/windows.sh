#!/usr/bin/env bash
# Cross-builds the 32-bit Windows library and its package.
#   ZOLVO_WIN32_SOURCES=../shared/third_party scripts/windows.sh
# The dependency tarballs (libcurl, jsoncpp, Paho MQTT C) are read from
# $ZOLVO_WIN32_SOURCES, checked against its SHA256SUMS, unpacked and built once
# as DLLs into build-win32/ (again only when a tarball changes); then the
# library and the Windows test programs are built with the MinGW-w64 toolchain
# (cmake/toolchain-mingw32.cmake) and the package is left in build-win32/dist/:
#   ZOLVO_SDK-<version>-win32.zip   one top folder ZOLVO_SDK-<version>-win32/:
#     bin/      ZOLVO_SDK.dll and every DLL it needs at run time
#     lib/      libZOLVO_SDK.dll.a (import library for MinGW-w64 hosts) and
#               lib/cmake/ZOLVO_SDK/ (find_package(ZOLVO_SDK))
#     include/  zolvo_sdk/zolvo_sdk.h
#     licenses/ the licence texts of everything bundled (scripts/licenses.sh)
#     README.txt
#   ZOLVO_SDK-<version>-win32/      the zip unpacked
#   scripts/windows.sh --check-sources   only tells whether $ZOLVO_WIN32_SOURCES
#                                        names a folder holding the three tarballs
#                                        (status 0), or says why not (status 3)
# Environment: ZOLVO_WIN32_BUILD_DIR (default build-win32/), ZOLVO_JOBS,
# ZOLVO_WERROR (ON: the library's warnings are errors; scripts/test.sh sets it).
# Any failure stops it with one line naming what failed, and a non-zero status.
set -u -o pipefail
ZOLVO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=deps.sh
. "$ZOLVO_ROOT/scripts/deps.sh"

fail() {
  echo "windows.sh: $*" >&2
  exit 1
}

# name|tarball|cmake options (the ones known to work, ../shared/third_party/README.md)
ZOLVO_WIN32_DEPS=(
  "curl|curl-7.88.1.tar.xz|-DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DHTTP_ONLY=ON -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DCURL_ZLIB=OFF -DCURL_USE_LIBSSH2=OFF -DUSE_LIBIDN2=OFF -DCURL_USE_LIBPSL=OFF -DENABLE_MANUAL=OFF -DBUILD_SHARED_LIBS=ON"
  "jsoncpp|jsoncpp-1.9.5.tar.xz|-DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF -DBUILD_SHARED_LIBS=ON -DBUILD_STATIC_LIBS=OFF -DBUILD_OBJECT_LIBS=OFF"
  "paho|paho.mqtt.c-1.3.12.tar.xz|-DPAHO_WITH_SSL=OFF -DPAHO_BUILD_SAMPLES=OFF -DPAHO_BUILD_STATIC=OFF -DPAHO_BUILD_SHARED=ON -DPAHO_ENABLE_TESTING=OFF -DPAHO_BUILD_DOCUMENTATION=OFF"
)

# The reason why the sources cannot be used, or nothing.
sources_missing() {
  local src=${ZOLVO_WIN32_SOURCES:-} entry name tarball options
  if [ -z "$src" ]; then
    echo "ZOLVO_WIN32_SOURCES is not set (the folder of the dependency tarballs, e.g. ../shared/third_party)"
    return
  fi
  [ -d "$src" ] || { echo "ZOLVO_WIN32_SOURCES=$src is no folder"; return; }
  for entry in "${ZOLVO_WIN32_DEPS[@]}"; do
    IFS='|' read -r name tarball options <<<"$entry"
    [ -f "$src/$tarball" ] || { echo "missing tarball: $src/$tarball"; return; }
  done
}

if [ "${1:-}" = "--check-sources" ]; then
  reason=$(sources_missing)
  [ -z "$reason" ] && exit 0
  echo "$reason"
  exit 3
fi
[ $# -eq 0 ] || fail "unknown argument: $1 (usage: scripts/windows.sh [--check-sources])"

reason=$(sources_missing)
[ -z "$reason" ] || fail "$reason"
sources=$(cd "$ZOLVO_WIN32_SOURCES" && pwd)
out=${ZOLVO_WIN32_BUILD_DIR:-$ZOLVO_ROOT/build-win32}
mkdir -p "$out" || fail "cannot create $out"
out=$(cd "$out" && pwd)
jobs=${ZOLVO_JOBS:-$(nproc)}
toolchain=$ZOLVO_ROOT/cmake/toolchain-mingw32.cmake
prefix=$out/prefix
logs=$out/logs
mkdir -p "$logs" "$out/src" "$out/deps" || fail "cannot create folders in $out"

zolvo_ensure_packages >"$logs/packages.log" 2>&1 ||
  fail "missing Debian packages: $(zolvo_missing_packages | tr '\n' ' ')(log: $logs/packages.log)"
for tool in i686-w64-mingw32-gcc-posix i686-w64-mingw32-g++-posix i686-w64-mingw32-objdump cmake cpack unzip sha256sum; do
  command -v "$tool" >/dev/null 2>&1 || fail "missing tool: $tool"
done

# ---------------------------------------------------------------- dependencies
[ -f "$sources/SHA256SUMS" ] || fail "missing checksum list: $sources/SHA256SUMS"
expected_sum() {
  awk -v f="$1" '$2 == f || $2 == "*" f { print $1; exit }' "$sources/SHA256SUMS"
}

# Paho's CMake links -lRpcRT4; the MinGW library folder names it librpcrt4.a.
mingw_libs=$out/mingw-libs
mkdir -p "$mingw_libs"
ln -sf /usr/i686-w64-mingw32/lib/librpcrt4.a "$mingw_libs/libRpcRT4.a"

# Every tarball is checked before anything is built.
declare -A checksum
for entry in "${ZOLVO_WIN32_DEPS[@]}"; do
  IFS='|' read -r name tarball options <<<"$entry"
  file=$sources/$tarball
  [ -f "$file" ] || fail "missing tarball: $file"
  want=$(expected_sum "$tarball")
  [ -n "$want" ] || fail "no checksum for $tarball in $sources/SHA256SUMS"
  have=$(sha256sum "$file" | cut -d' ' -f1)
  [ "$have" = "$want" ] || fail "corrupt tarball (checksum mismatch): $file"
  checksum[$name]=$have
done

for entry in "${ZOLVO_WIN32_DEPS[@]}"; do
  IFS='|' read -r name tarball options <<<"$entry"
  file=$sources/$tarball
  have=${checksum[$name]}
  stamp=$out/deps/$name.stamp
  # Rebuilt when the tarball, its options or the toolchain file change. The
  # build folder's path is mapped away and the link time stamp left out, so the
  # DLLs are the same bytes wherever they are built.
  repro_c="-ffile-prefix-map=$out/="
  repro_ld="-Wl,--no-insert-timestamp"
  key="$have $options $repro_c $repro_ld $(sha256sum "$toolchain" | cut -d' ' -f1)"
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$key" ]; then
    continue
  fi
  echo "== win32: building $name from $tarball"
  started=$(date +%s)
  rm -f "$stamp"
  rm -rf "${out:?}/src/$name" "${out:?}/deps/$name"
  mkdir -p "$out/src/$name"
  tar -xJf "$file" -C "$out/src/$name" --strip-components=1 >"$logs/$name.log" 2>&1 ||
    fail "cannot unpack $file (log: $logs/$name.log)"
  read -ra option_list <<<"$options"
  { cmake -S "$out/src/$name" -B "$out/deps/$name" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DZOLVO_WIN32_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_INSTALL_PREFIX="$prefix" \
      -DCMAKE_C_FLAGS="$repro_c" -DCMAKE_CXX_FLAGS="$repro_c" \
      -DCMAKE_SHARED_LINKER_FLAGS="-L$mingw_libs $repro_ld" -DCMAKE_EXE_LINKER_FLAGS="-L$mingw_libs" \
      "${option_list[@]}" &&
    cmake --build "$out/deps/$name" -j "$jobs" &&
    cmake --install "$out/deps/$name"; } >>"$logs/$name.log" 2>&1 ||
    fail "dependency build failed: $name (log: $logs/$name.log)"
  echo "$key" >"$stamp"
  echo "== win32: $name built in $(($(date +%s) - started)) s"
done

# ---------------------------------------------------------------- the library
# The licence texts of everything the package bundles, installed as licenses/.
licenses=$out/licenses/sdk
rm -rf "$licenses"
bash "$ZOLVO_ROOT/scripts/licenses.sh" "$licenses" zolvo_sdk curl jsoncpp paho gcc winpthreads \
  2>"$logs/licenses.log" || fail "licence texts: $(tail -n 1 "$logs/licenses.log")"

sdk=$out/sdk
echo "== win32: building the library and the Windows test programs in $sdk"
{ cmake -S "$ZOLVO_ROOT" -B "$sdk" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DZOLVO_WIN32_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release \
    -DZOLVO_BUILD_DEMO=OFF -DZOLVO_BUILD_TESTS=OFF -DZOLVO_BUILD_BENCH=OFF \
    -DZOLVO_BUILD_WIN32_TESTS=ON -DZOLVO_WERROR="${ZOLVO_WERROR:-OFF}" \
    -DZOLVO_WIN32_LICENSES="$licenses" &&
  cmake --build "$sdk" -j "$jobs"; } >"$logs/sdk.log" 2>&1 ||
  fail "library build failed (log: $logs/sdk.log)"

# ---------------------------------------------------------------- the package
# CPack runs the install rules (cmake/ZolvoWin32Package.cmake) into a staging
# folder, strips the DLLs and zips it with the top folder; the zip's time
# stamps are the last commit's, so that the same commit gives the same zip.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$sdk/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $sdk/CMakeCache.txt"
top=ZOLVO_SDK-$version-win32
dist=$out/dist
rm -rf "$dist"
mkdir -p "$dist"
epoch=$(git -C "$ZOLVO_ROOT" log -1 --format=%ct 2>/dev/null) || epoch=${SOURCE_DATE_EPOCH:-}
[ -z "$epoch" ] || export SOURCE_DATE_EPOCH=$epoch
cpack --config "$sdk/CPackConfig.cmake" -B "$dist" >"$logs/package.log" 2>&1 ||
  fail "packaging failed (log: $logs/package.log)"
rm -rf "$dist/_CPack_Packages"
[ -f "$dist/$top.zip" ] || fail "no $top.zip in $dist (log: $logs/package.log)"
# The unpacked copy is what the Windows suite runs with.
(cd "$dist" && unzip -q "$top.zip") || fail "cannot unpack $dist/$top.zip"
for needed in ZOLVO_SDK.dll libcurl.dll libjsoncpp.dll libpaho-mqtt3c.dll libstdc++-6.dll libgcc_s_dw2-1.dll libwinpthread-1.dll; do
  [ -f "$dist/$top/bin/$needed" ] || fail "package incomplete: bin/$needed missing"
done

bash "$ZOLVO_ROOT/tests/win32/check_exports.sh" "$dist/$top/bin/ZOLVO_SDK.dll" >"$logs/exports.log" 2>&1 ||
  fail "export table check failed: $(tail -n 1 "$logs/exports.log")"
echo "== win32: package $dist/$top.zip ($(cd "$dist/$top/bin" && printf '%s ' *))"
