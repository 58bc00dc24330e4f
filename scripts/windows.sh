#!/usr/bin/env bash
# Cross-builds the 32-bit Windows library, the demo program and their packages.
#   ZOLVO_WIN32_SOURCES=../shared/third_party scripts/windows.sh
# The dependency tarballs (libcurl, jsoncpp, Paho MQTT C, Qt's qtbase) are read
# from $ZOLVO_WIN32_SOURCES, checked against its SHA256SUMS and against the
# checksums pinned in scripts/win32-deps, unpacked and built once into
# build-win32/ (again only when a tarball, its options or the toolchain change,
# or when files that a build installed are gone); then the library, the demo
# and the Windows test programs are built with the MinGW-w64 toolchain
# (cmake/toolchain-mingw32.cmake) and the packages are left in build-win32/dist/:
#   ZOLVO_SDK-<version>-win32.zip   one top folder ZOLVO_SDK-<version>-win32/:
#     bin/      ZOLVO_SDK.dll and every DLL it needs at run time
#     lib/      libZOLVO_SDK.dll.a (import library for MinGW-w64 hosts) and
#               lib/cmake/ZOLVO_SDK/ (find_package(ZOLVO_SDK))
#     include/  zolvo_sdk/zolvo_sdk.h
#     licenses/ the licence texts of everything bundled (scripts/licenses.sh)
#     README.txt
#   ZOLVO_SDK-<version>-win32/      the zip unpacked
#   ZOLVO_SDK_DEMO/ and ZOLVO_SDK_DEMO-<version>-win32.zip: the demo program
#             as it runs on Windows (scripts/windows_demo.sh)
#   scripts/windows.sh --check-sources   only tells whether $ZOLVO_WIN32_SOURCES
#                                        names a folder holding the four tarballs
#                                        (status 0), or says why not (status 3)
#   scripts/windows.sh --library-only    the library's package alone: no Qt, no
#                                        demo, no test programs
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

# The dependencies, their tarballs, pinned checksums and options: one table,
# scripts/win32-deps.
# shellcheck source=win32_deps.sh
. "$ZOLVO_ROOT/scripts/win32_deps.sh"

# The reason why the sources cannot be used, or nothing.
sources_missing() {
  local src=${ZOLVO_WIN32_SOURCES:-} tarball
  if [ -z "$src" ]; then
    echo "ZOLVO_WIN32_SOURCES is not set (the folder of the dependency tarballs, e.g. ../shared/third_party)"
    return
  fi
  [ -d "$src" ] || { echo "ZOLVO_WIN32_SOURCES=$src is no folder"; return; }
  for tarball in $(win32_tarballs); do
    [ -f "$src/$tarball" ] || { echo "missing tarball: $src/$tarball"; return; }
  done
}

if [ "${1:-}" = "--check-sources" ]; then
  reason=$(sources_missing)
  [ -z "$reason" ] && exit 0
  echo "$reason"
  exit 3
fi
library_only=0
if [ "${1:-}" = "--library-only" ]; then
  library_only=1
  shift
fi
[ $# -eq 0 ] || fail "unknown argument: $1 (usage: scripts/windows.sh [--check-sources | --library-only])"

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
# sum_in <list> <tarball>: the checksum that a sha256sum list gives the tarball.
sum_in() {
  awk -v f="$2" '$2 == f || $2 == "*" f { print $1; exit }' "$1"
}

# GNU ld orders a DLL's import descriptors by the paths of the import
# libraries it took them from. The dependencies' and Qt's links find the
# MinGW-w64 system's import libraries (and the compiler's own) through a
# folder of links in the build folder, searched first: with all of them in one
# folder, their order does not depend on where the build folder lies, as it
# would if some came from the build folder and the rest from /usr.
# link_system_libs <folder>: makes it, in the order the compiler searches.
link_system_libs() {
  local lib
  rm -rf "$1"
  mkdir -p "$1" || fail "cannot create $1"
  for lib in "$(dirname "$(i686-w64-mingw32-g++-posix -print-libgcc-file-name)")"/lib*.a \
    /usr/i686-w64-mingw32/lib/lib*.a; do
    [ -e "$1/${lib##*/}" ] || ln -s "$lib" "$1/" || fail "cannot link $lib into $1"
  done
}
# Paho's CMake links -lRpcRT4; the MinGW library folder names it librpcrt4.a.
mingw_libs=$out/mingw-libs
link_system_libs "$mingw_libs"
ln -sf librpcrt4.a "$mingw_libs/libRpcRT4.a"

# Every tarball is checked before anything is built.
declare -A checksum
for name in $(win32_deps); do
  tarball=$(win32_dep "$name" tarball)
  file=$sources/$tarball
  [ -f "$file" ] || fail "missing tarball: $file"
  want=$(sum_in "$sources/SHA256SUMS" "$tarball")
  [ -n "$want" ] || fail "no checksum for $tarball in $sources/SHA256SUMS"
  pinned=$(win32_dep "$name" sha256)
  [ -n "$pinned" ] || fail "no pinned checksum for $tarball in $ZOLVO_WIN32_DEPS_TABLE"
  have=$(sha256sum "$file" | cut -d' ' -f1)
  [ "$have" = "$want" ] || fail "corrupt tarball (checksum mismatch): $file"
  [ "$have" = "$pinned" ] ||
    fail "tarball differs from the checksum pinned in $ZOLVO_WIN32_DEPS_TABLE: $file"
  checksum[$name]=$have
done

# A stamp holds what a dependency was built from; it counts only while it still
# matches and every file the build installed is still there.
# missing_file <root> <files>: the first of the files that is not in root.
missing_file() {
  local f
  for f in $2; do
    [ -e "$1/$f" ] || { echo "$1/$f"; return; }
  done
}
built() {
  local stamp=$1 key=$2 root=$3 files=$4 gone
  [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$key" ] || return 1
  gone=$(missing_file "$root" "$files")
  [ -z "$gone" ] || { echo "== win32: $gone is gone: rebuilding"; return 1; }
}

# build_dependency <name> <label> <key> <prefix> <build command…>: unless its
# stamp (deps/<name>.stamp) still holds the key and every file of its install
# is in the prefix, unpacks its tarball into src/<name>, runs the build command
# from deps/<name> in a subshell and stamps it. The build command says itself
# what failed. Its logs: unpack_log (default logs/<name>.log) and build_log
# (the same by default), named when its install is incomplete.
build_dependency() {
  local name=$1 label=$2 key=$3 root=$4 tarball files stamp started gone
  local unpack=${unpack_log:-$logs/$1.log} log=${build_log:-$logs/$1.log}
  shift 4
  tarball=$(win32_dep "$name" tarball)
  files=$(win32_dep "$name" installs)
  stamp=$out/deps/$name.stamp
  built "$stamp" "$key" "$root" "$files" && return 0
  echo "== win32: building $label from $tarball${build_note:-}"
  started=$(date +%s)
  rm -f "$stamp"
  rm -rf "${out:?}/src/$name" "${out:?}/deps/$name"
  mkdir -p "$out/src/$name" "$out/deps/$name"
  tar -xJf "$sources/$tarball" -C "$out/src/$name" --strip-components=1 >"$unpack" 2>&1 ||
    fail "cannot unpack $sources/$tarball (log: $unpack)"
  (cd "$out/deps/$name" && "$@") || exit 1
  gone=$(missing_file "$root" "$files")
  [ -z "$gone" ] || fail "$label build incomplete: no $gone (log: $log)"
  echo "$key" >"$stamp"
  echo "== win32: $label built in $(($(date +%s) - started)) s"
}

# The dependencies built with CMake into one prefix. Rebuilt when the tarball,
# its options or the toolchain file change, or when an installed file is gone.
# The build folder's path is mapped away and the link time stamp left out, so
# the DLLs are the same bytes wherever they are built.
# What a build writes of its own date (Paho's "Build level") is the date of
# the tarball's top folder, the release's date. Its system libraries come
# from mingw_libs.
repro_c="-ffile-prefix-map=$out/="
repro_ld="-Wl,--no-insert-timestamp"
# cmake_build <name> <options>
cmake_build() {
  local name=$1 file source_date source_epoch option_list
  file=$sources/$(win32_dep "$name" tarball)
  source_date=$(tar -tvJf "$file" --full-time 2>/dev/null | awk 'NR == 1 { print $4 " " $5 }')
  source_epoch=$(TZ=UTC date -d "$source_date" +%s 2>/dev/null) ||
    fail "no date in $file (log: $logs/$name.log)"
  read -ra option_list <<<"$2"
  { SOURCE_DATE_EPOCH=$source_epoch cmake -S "$out/src/$name" -B "$out/deps/$name" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DZOLVO_WIN32_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_INSTALL_PREFIX="$prefix" \
      -DCMAKE_C_FLAGS="$repro_c" -DCMAKE_CXX_FLAGS="$repro_c" \
      -DCMAKE_SHARED_LINKER_FLAGS="-L$mingw_libs $repro_ld" -DCMAKE_EXE_LINKER_FLAGS="-L$mingw_libs" \
      "${option_list[@]}" &&
    cmake --build "$out/deps/$name" -j "$jobs" &&
    cmake --install "$out/deps/$name"; } >>"$logs/$name.log" 2>&1 ||
    fail "dependency build failed: $name (log: $logs/$name.log)"
}
toolchain_sum=$(sha256sum "$toolchain" | cut -d' ' -f1)
for name in $(win32_deps); do
  [ "$name" = qtbase ] && continue
  options=$(win32_dep "$name" options)
  key="${checksum[$name]} $options $repro_c $repro_ld $toolchain_sum source-date system-libs"
  build_dependency "$name" "$name" "$key" "$prefix" cmake_build "$name" "$options"
done

# Qt: configure picks the cross compiler by its prefix, which must be the posix
# thread model one (std::thread); the key holds the compiler's version too.
qt_prefix=$out/qt
qt_compiler=$(i686-w64-mingw32-g++ -v 2>&1 | grep -E '^(gcc version|Thread model)' | tr '\n' ' ')
case $qt_compiler in
  *"Thread model: posix"*) ;;
  *) fail "i686-w64-mingw32-g++ is not the posix variant (update-alternatives --config i686-w64-mingw32-g++)" ;;
esac
# Qt is installed into qt_prefix but configured for a fixed prefix, the one
# its DLLs hold: a shared Qt for Windows is relocatable and finds its prefix
# from where Qt5Core.dll is, whatever this says. The prefix is absolute on the
# build machine, so that configure derives the way from the DLL's folder to it
# ("..") and does not take it as a relative path. Its build paths are mapped
# away, its links carry no time stamp and find the system's import libraries
# in a folder of links (qt-link-libs), as the dependencies' do.
# Every object leaves the list of the files it was compiled from (-MD: a .d
# file beside it), from which scripts/qt_notices.py finds the third-party
# code that the shipped Qt holds.
qt_options=$(win32_dep qtbase options)
qt_fixed_prefix=/opt/Qt-$(win32_dep qtbase version)
qt_link_libs=$out/qt-link-libs
qt_repro=("QMAKE_CFLAGS+=-ffile-prefix-map=$out/= -MD" "QMAKE_CXXFLAGS+=-ffile-prefix-map=$out/= -MD"
  "QMAKE_LFLAGS+=-Wl,--no-insert-timestamp -L$qt_link_libs")
qt_key="${checksum[qtbase]} $qt_options -prefix $qt_fixed_prefix -extprefix $qt_prefix ${qt_repro[*]} $qt_compiler"
qt_build() {
  local qt_option_list
  rm -rf "$qt_prefix"
  link_system_libs "$qt_link_libs"
  read -ra qt_option_list <<<"$qt_options"
  "$out/src/qtbase/configure" -xplatform win32-g++ \
    -device-option CROSS_COMPILE=i686-w64-mingw32- -prefix "$qt_fixed_prefix" -extprefix "$qt_prefix" \
    "${qt_option_list[@]}" "${qt_repro[@]}" >>"$logs/qtbase-configure.log" 2>&1 </dev/null ||
    fail "Qt configure failed (log: $logs/qtbase-configure.log)"
  { make -j "$jobs" && make install; } >"$logs/qtbase-build.log" 2>&1 </dev/null ||
    fail "Qt build failed (log: $logs/qtbase-build.log)"
}
if [ $library_only -eq 0 ]; then
  build_note=" (about 11 minutes on 8 cores)" unpack_log=$logs/qtbase-configure.log \
    build_log=$logs/qtbase-build.log build_dependency qtbase Qt "$qt_key" "$qt_prefix" qt_build
fi

# ---------------------------------------------------------------- the library
# The licence texts of everything the package bundles, installed as licenses/.
licenses=$out/licenses/sdk
rm -rf "$licenses"
bash "$ZOLVO_ROOT/scripts/licenses.sh" "$licenses" zolvo_sdk curl jsoncpp paho gcc winpthreads mingw-crt \
  2>"$logs/licenses.log" || fail "licence texts: $(tail -n 1 "$logs/licenses.log")"

sdk=$out/sdk
if [ $library_only -eq 1 ]; then
  echo "== win32: building the library in $sdk"
  sdk_options=(-DZOLVO_WIN32_PREFIX="$prefix" -DZOLVO_BUILD_DEMO=OFF -DZOLVO_BUILD_WIN32_TESTS=OFF)
else
  echo "== win32: building the library, the demo and the Windows test programs in $sdk"
  sdk_options=(-DZOLVO_WIN32_PREFIX="$prefix;$qt_prefix" -DZOLVO_BUILD_DEMO=ON -DZOLVO_BUILD_WIN32_TESTS=ON)
fi
{ cmake -S "$ZOLVO_ROOT" -B "$sdk" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    "${sdk_options[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DZOLVO_BUILD_TESTS=OFF -DZOLVO_BUILD_BENCH=OFF -DZOLVO_WERROR="${ZOLVO_WERROR:-OFF}" \
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
for needed in ZOLVO_SDK.dll $(win32_package_dlls library); do
  [ -f "$dist/$top/bin/$needed" ] || fail "package incomplete: bin/$needed missing"
done

bash "$ZOLVO_ROOT/tests/win32/check_exports.sh" "$dist/$top/bin/ZOLVO_SDK.dll" >"$logs/exports.log" 2>&1 ||
  fail "export table check failed: $(tail -n 1 "$logs/exports.log")"
echo "== win32: package $dist/$top.zip ($(cd "$dist/$top/bin" && printf '%s ' *))"

# The demo program's package, beside the library's.
[ $library_only -eq 1 ] || bash "$ZOLVO_ROOT/scripts/windows_demo.sh" "$out" || exit 1
