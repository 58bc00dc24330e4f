#!/usr/bin/env bash
# windows_sh_faults.sh <repo root>: scripts/windows.sh stops with one line on
# standard error that names what is wrong, and a non-zero status, for: no
# ZOLVO_WIN32_SOURCES, a missing tarball, a corrupt tarball, a tarball that its
# folder's SHA256SUMS accepts but the project's pinned checksum does not, a
# dependency whose build fails, a Qt whose configure or build fails; and a
# dependency whose stamp matches but whose installed files are gone is built
# again. Uses made-up tarballs in a temporary folder, never the real ones; the
# made-up tarballs pass the pinned checksums only in a copy of the scripts whose
# table of dependencies (scripts/win32-deps) pins them.
set -u -o pipefail
root=${1:?usage: windows_sh_faults.sh REPO_ROOT}
# shellcheck source=../../scripts/win32_deps.sh
. "$root/scripts/win32_deps.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

# A copy of the scripts (and the toolchain file) that pins the made-up tarballs.
fake_root=$work/root
mkdir -p "$fake_root"
cp -r "$root/scripts" "$root/cmake" "$fake_root/"

# expect <name> <text the one line must hold> <environment and command…>
expect() {
  local name=$1 needle=$2
  shift 2
  local rc=0
  env "$@" bash "${script:-$fake_root/scripts/windows.sh}" >"$work/out" 2>"$work/err" </dev/null ||
    rc=$?
  local lines
  lines=$(wc -l <"$work/err")
  if [ "$rc" -eq 0 ]; then
    echo "FAIL $name: exit status 0"; status=1
  elif [ "$lines" -ne 1 ]; then
    echo "FAIL $name: $lines lines on standard error:"; cat "$work/err"; status=1
  elif ! grep -qF -- "$needle" "$work/err"; then
    echo "FAIL $name: the line does not name '$needle': $(cat "$work/err")"; status=1
  else
    echo "ok   $name: $(cat "$work/err")"
  fi
}

# name|tarball|files its install leaves, of the dependencies built with CMake.
deps=()
for name in $(win32_deps); do
  [ "$name" = qtbase ] && continue
  deps+=("$name|$(win32_dep "$name" tarball)|$(win32_dep "$name" installs)")
done
qt_tarball=$(win32_dep qtbase tarball)
qt_top=$(win32_dep qtbase top)
if [ ${#deps[@]} -ne 3 ] || [ -z "$qt_tarball" ] || [ -z "$qt_top" ]; then
  echo "FAIL: cannot read the dependencies of $ZOLVO_WIN32_DEPS_TABLE"
  exit 1
fi
tarballs=()
for d in "${deps[@]}"; do tarballs+=("$(echo "$d" | cut -d'|' -f2)"); done
tarballs+=("$qt_tarball")

# sums <folder>: its SHA256SUMS, and the fake root's table pinning the same.
sums() {
  (cd "$1" && sha256sum "${tarballs[@]}" >SHA256SUMS) &&
    awk 'NR == FNR { sum[$2] = $1; next }
      /^tarball = / { tarball = $3 }
      /^sha256 = / { $0 = "sha256 = " sum[tarball] }
      { print }' "$1/SHA256SUMS" "$ZOLVO_WIN32_DEPS_TABLE" >"$fake_root/scripts/win32-deps"
}
# make_project <tarball> <folder> <CMakeLists.txt text>
make_project() {
  local dir=$work/make/${1%.tar.xz}
  rm -rf "$dir"
  mkdir -p "$dir"
  echo "$3" >"$dir/CMakeLists.txt"
  tar -cJf "$2/$1" -C "$work/make" "${1%.tar.xz}"
}
# A tarball whose CMake project stops at once.
make_broken() {
  make_project "$1" "$2" 'cmake_minimum_required(VERSION 3.16)
project(broken NONE)
message(FATAL_ERROR "this source does not build")'
}
# A tarball whose CMake project installs empty files by the names given.
make_ok() {
  # shellcheck disable=SC2016  # CMake's variables
  local text='cmake_minimum_required(VERSION 3.16)
project(fake NONE)
file(WRITE ${CMAKE_BINARY_DIR}/empty "")' f
  for f in $3; do
    text+="
install(FILES \${CMAKE_BINARY_DIR}/empty DESTINATION $(dirname "$f") RENAME $(basename "$f"))"
  done
  make_project "$1" "$2" "$text"
}
# A Qt tarball whose configure runs the given shell text.
make_qt() {
  local dir=$work/make/qt/$qt_top
  rm -rf "$work/make/qt"
  mkdir -p "$dir"
  printf '#!/bin/sh\n%s\n' "$2" >"$dir/configure"
  chmod +x "$dir/configure"
  tar -cJf "$1/$qt_tarball" -C "$work/make/qt" "$qt_top"
}

script=$root/scripts/windows.sh expect unset "ZOLVO_WIN32_SOURCES is not set" \
  -u ZOLVO_WIN32_SOURCES ZOLVO_WIN32_BUILD_DIR="$work/build"

mkdir -p "$work/missing"
for t in "${tarballs[@]:0:2}" "$qt_tarball"; do echo junk >"$work/missing/$t"; done
(cd "$work/missing" && sha256sum "${tarballs[@]:0:2}" "$qt_tarball" >SHA256SUMS)
expect missing "missing tarball: $work/missing/${tarballs[2]}" \
  ZOLVO_WIN32_SOURCES="$work/missing" ZOLVO_WIN32_BUILD_DIR="$work/build"

mkdir -p "$work/corrupt"
for t in "${tarballs[@]}"; do echo "junk $t" >"$work/corrupt/$t"; done
sums "$work/corrupt"
echo "changed after its checksum was taken" >>"$work/corrupt/${tarballs[1]}"
expect corrupt "corrupt tarball (checksum mismatch): $work/corrupt/${tarballs[1]}" \
  ZOLVO_WIN32_SOURCES="$work/corrupt" ZOLVO_WIN32_BUILD_DIR="$work/build"

rm -rf "$work/corrupt"
mkdir -p "$work/corrupt"
for t in "${tarballs[@]}"; do echo "junk $t" >"$work/corrupt/$t"; done
sums "$work/corrupt"
echo "changed after its checksum was taken" >>"$work/corrupt/$qt_tarball"
expect "corrupt Qt" "corrupt tarball (checksum mismatch): $work/corrupt/$qt_tarball" \
  ZOLVO_WIN32_SOURCES="$work/corrupt" ZOLVO_WIN32_BUILD_DIR="$work/build"

# The folder's own list agrees, the project's pins do not: refused.
mkdir -p "$work/unpinned"
for t in "${tarballs[@]}"; do echo "other $t" >"$work/unpinned/$t"; done
(cd "$work/unpinned" && sha256sum "${tarballs[@]}" >SHA256SUMS)
script=$root/scripts/windows.sh expect "not the pinned checksum" \
  "tarball differs from the checksum pinned in $root/scripts/win32-deps: $work/unpinned/${tarballs[0]}" \
  ZOLVO_WIN32_SOURCES="$work/unpinned" ZOLVO_WIN32_BUILD_DIR="$work/build"

mkdir -p "$work/broken"
for t in "${tarballs[@]}"; do make_broken "$t" "$work/broken"; done
sums "$work/broken"
expect "failed build" "dependency build failed: curl" \
  ZOLVO_WIN32_SOURCES="$work/broken" ZOLVO_WIN32_BUILD_DIR="$work/build"

# The three built (made-up, installing their files), then Qt fails.
mkdir -p "$work/qt"
for d in "${deps[@]}"; do
  IFS='|' read -r _ t files <<<"$d"
  make_ok "$t" "$work/qt" "$files"
done
make_qt "$work/qt" 'echo "ERROR: Feature tabletevent is unknown"; exit 1'
sums "$work/qt"
expect "Qt configure" "Qt configure failed (log: $work/qt-build/logs/qtbase-configure.log)" \
  ZOLVO_WIN32_SOURCES="$work/qt" ZOLVO_WIN32_BUILD_DIR="$work/qt-build"

make_qt "$work/qt" 'printf "all:\n\t@echo compiling; false\ninstall:\n\ttrue\n" >Makefile'
sums "$work/qt"
expect "Qt build" "Qt build failed (log: $work/qt-build/logs/qtbase-build.log)" \
  ZOLVO_WIN32_SOURCES="$work/qt" ZOLVO_WIN32_BUILD_DIR="$work/qt-build"
if grep -q "building curl" "$work/out"; then
  echo "FAIL stamps: curl was built again though its stamp and files are in place"; status=1
fi

# A stamp whose installed files are gone does not count.
rm -f "$work/qt-build/prefix/bin/libcurl.dll"
expect "Qt build, libcurl.dll removed" "Qt build failed" \
  ZOLVO_WIN32_SOURCES="$work/qt" ZOLVO_WIN32_BUILD_DIR="$work/qt-build"
if grep -q "building curl" "$work/out" && ! grep -q "building jsoncpp" "$work/out" &&
  [ -f "$work/qt-build/prefix/bin/libcurl.dll" ]; then
  echo "ok   stamps: curl rebuilt once its libcurl.dll was gone, jsoncpp kept"
else
  echo "FAIL stamps: a removed libcurl.dll was not rebuilt (or more was):"; cat "$work/out"; status=1
fi

exit $status
