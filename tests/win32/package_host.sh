#!/usr/bin/env bash
# package_host.sh <zip> <work folder>: unpacks the Windows package's zip into
# the work folder and builds package_host/main.cpp against it twice, as an
# integrator would, knowing nothing of the build tree:
# - with CMake, a cross build with the library's toolchain file and
#   find_package(ZOLVO_SDK) given -DZOLVO_SDK_DIR, as README.txt says; the
#   host copies $<TARGET_RUNTIME_DLLS> beside itself, which must be every DLL
#   of bin/: <work folder>/build/zolvo_package_host.exe;
# - with clang, by the command lines of README.txt's clang recipe, read from
#   the unpacked README.txt and run from the package's folder with the host's
#   source as host.cpp: <package>/host.exe.
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

cmake -S "$here/package_host" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$here/../../cmake/toolchain-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DZOLVO_SDK_DIR="$package/lib/cmake/ZOLVO_SDK" \
  -DWIRE_HEX_DIR="$here" >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; echo "configuring the host against $package failed"; exit 1; }
cmake --build "$work/build" >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; echo "building the host failed"; exit 1; }
[ -f "$work/build/zolvo_package_host.exe" ] || { echo "no zolvo_package_host.exe"; exit 1; }
for dll in "$package"/bin/*.dll; do
  cmp -s "$dll" "$work/build/$(basename "$dll")" ||
    { echo "\$<TARGET_RUNTIME_DLLS> left out $(basename "$dll")"; exit 1; }
done
echo "built $work/build/zolvo_package_host.exe against $package, with bin/'s DLLs beside it"

# README.txt's clang recipe: the paragraph after "clang:", each command line
# indented by four spaces, continued by lines indented further.
mapfile -t recipe < <(tr -d '\r' <"$package/README.txt" | awk '
  /^  clang:/ { on = 1; next }
  on && /^$/ && n { exit }
  on && /^      / { sub(/^ +/, " "); cmd[n] = cmd[n] $0; next }
  on && /^    [^ ]/ { sub(/^ +/, ""); cmd[++n] = $0 }
  END { for (i = 1; i <= n; i++) print cmd[i] }')
case "${recipe[0]:-} | ${recipe[1]:-}" in
  "clang++ "*" | g++ "*) ;;
  *) echo "README.txt's clang recipe is not a clang++ line and a g++ line: ${recipe[*]}"; exit 1 ;;
esac
gcc_dir=$(dirname "$(i686-w64-mingw32-g++-posix -print-libgcc-file-name)")
cp "$here/package_host/main.cpp" "$package/host.cpp" && cp "$here/wire_hex.h" "$package/" || exit 1
for line in "${recipe[@]}"; do
  line=${line//<gcc>/$gcc_dir}
  # The MinGW-w64 g++ that README.txt means, as Debian names it.
  line=${line/#g++ /i686-w64-mingw32-g++-posix }
  read -ra words <<<"$line"
  echo "+ ${words[*]}"
  (cd "$package" && "${words[@]}") >>"$work/clang.log" 2>&1 ||
    { cat "$work/clang.log"; echo "README.txt's clang recipe failed: $line"; exit 1; }
done
[ -f "$package/host.exe" ] || { echo "README.txt's clang recipe made no host.exe"; exit 1; }
echo "built $package/host.exe with README.txt's clang recipe"
