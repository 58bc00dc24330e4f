#!/usr/bin/env bash
# windows_sh_faults.sh <repo root>: scripts/windows.sh stops with one line on
# standard error that names what is wrong, and a non-zero status, for: no
# ZOLVO_WIN32_SOURCES, a missing tarball, a corrupt tarball, a dependency whose
# build fails. Uses made-up tarballs in a temporary folder, never the real ones.
set -u -o pipefail
root=${1:?usage: windows_sh_faults.sh REPO_ROOT}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

# expect <name> <text the one line must hold> <environment and command…>
expect() {
  local name=$1 needle=$2
  shift 2
  local rc=0
  env "$@" bash "$root/scripts/windows.sh" >"$work/out" 2>"$work/err" </dev/null || rc=$?
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

tarballs=(curl-7.88.1.tar.xz jsoncpp-1.9.5.tar.xz paho.mqtt.c-1.3.12.tar.xz)
# A tarball whose CMake project stops at once.
make_broken() {
  local dir=$work/make/${1%.tar.xz}
  mkdir -p "$dir"
  echo 'cmake_minimum_required(VERSION 3.16)
project(broken NONE)
message(FATAL_ERROR "this source does not build")' >"$dir/CMakeLists.txt"
  tar -cJf "$2/$1" -C "$work/make" "${1%.tar.xz}"
}

expect unset "ZOLVO_WIN32_SOURCES is not set" -u ZOLVO_WIN32_SOURCES ZOLVO_WIN32_BUILD_DIR="$work/build"

mkdir -p "$work/missing"
for t in "${tarballs[@]:0:2}"; do echo junk >"$work/missing/$t"; done
(cd "$work/missing" && sha256sum "${tarballs[@]:0:2}" >SHA256SUMS)
expect missing "missing tarball: $work/missing/paho.mqtt.c-1.3.12.tar.xz" \
  ZOLVO_WIN32_SOURCES="$work/missing" ZOLVO_WIN32_BUILD_DIR="$work/build"

mkdir -p "$work/corrupt"
for t in "${tarballs[@]}"; do echo junk >"$work/corrupt/$t"; done
(cd "$work/corrupt" && sha256sum "${tarballs[@]}" >SHA256SUMS)
echo "changed after its checksum was taken" >>"$work/corrupt/jsoncpp-1.9.5.tar.xz"
expect corrupt "corrupt tarball (checksum mismatch): $work/corrupt/jsoncpp-1.9.5.tar.xz" \
  ZOLVO_WIN32_SOURCES="$work/corrupt" ZOLVO_WIN32_BUILD_DIR="$work/build"

mkdir -p "$work/broken"
for t in "${tarballs[@]}"; do make_broken "$t" "$work/broken"; done
(cd "$work/broken" && sha256sum "${tarballs[@]}" >SHA256SUMS)
expect "failed build" "dependency build failed: curl" \
  ZOLVO_WIN32_SOURCES="$work/broken" ZOLVO_WIN32_BUILD_DIR="$work/build"

exit $status
