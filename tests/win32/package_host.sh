#!/usr/bin/env bash
# package_host.sh <zip> <work folder>: unpacks the Windows package's zip into
# the work folder and builds package_host/ against it with CMake and the
# MinGW-w64 compiler, as an integrator on Windows would: the unpacked folder
# on CMAKE_PREFIX_PATH, nothing of the build tree. Checks that find_package
# took the package from the unpacked folder, and leaves
# <work folder>/build/zolvo_package_host.exe.
set -u -o pipefail
zip=${1:?usage: package_host.sh ZIP WORK_FOLDER}
work=${2:?usage: package_host.sh ZIP WORK_FOLDER}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(basename "$zip" .zip)
rm -rf "$work"
mkdir -p "$work/unpacked"
(cd "$work/unpacked" && unzip -q "$zip") || { echo "cannot unpack $zip"; exit 1; }
package=$work/unpacked/$top
[ -d "$package" ] || { echo "no top folder $top in $zip"; exit 1; }
cmake -S "$here/package_host" -B "$work/build" -DCMAKE_SYSTEM_NAME=Windows \
  -DCMAKE_CXX_COMPILER=i686-w64-mingw32-g++-posix -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$package" -DWIRE_HEX_DIR="$here" >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; echo "configuring the host against $package failed"; exit 1; }
found=$(sed -n 's/^ZOLVO_SDK_DIR:PATH=//p' "$work/build/CMakeCache.txt")
[ "$found" = "$package/lib/cmake/ZOLVO_SDK" ] ||
  { echo "find_package took ZOLVO_SDK from '$found', not from $package"; exit 1; }
cmake --build "$work/build" >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; echo "building the host failed"; exit 1; }
[ -f "$work/build/zolvo_package_host.exe" ] || { echo "no zolvo_package_host.exe"; exit 1; }
echo "built $work/build/zolvo_package_host.exe against $package"
