# shellcheck shell=bash
# The table of the Windows build's dependencies (scripts/win32-deps), read by
# the scripts and tests of the Windows build: source this file.
#   win32_dep NAME KEY    the value of KEY for dependency NAME (NAME "" for the
#                         keys before the first dependency), or nothing
#   win32_deps            the dependencies' names in the table's order
#   win32_tarballs        their tarballs, in the same order
#   win32_dependency_dlls library|demo
#                         the DLLs of the dependencies that the library's
#                         package, or the demo's, carries, in the table's order
#   win32_package_dlls library|demo
#                         those and the MinGW-w64 runtime's: every DLL that the
#                         package needs besides ZOLVO_SDK.dll
#   win32_imports FILE    the DLLs that a program or DLL imports, in the order
#                         of its import table, as cmake/ZolvoWin32Runtime.cmake
#                         reads it for the packages
ZOLVO_WIN32_DEPS_TABLE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/win32-deps
ZOLVO_WIN32_RUNTIME_CMAKE=$(cd "$(dirname "${BASH_SOURCE[0]}")/../cmake" && pwd)/ZolvoWin32Runtime.cmake

win32_dep() {
  awk -v want="$1" -v key="$2" '
    /^[ \t]*(#|$)/ { next }
    /^\[.*\]$/ { section = substr($0, 2, length($0) - 2); next }
    section == want {
      eq = index($0, "=")
      k = substr($0, 1, eq - 1); v = substr($0, eq + 1)
      gsub(/^[ \t]+|[ \t]+$/, "", k); gsub(/^[ \t]+|[ \t]+$/, "", v)
      if (eq > 0 && k == key) { print v; exit }
    }' "$ZOLVO_WIN32_DEPS_TABLE"
}
win32_deps() {
  sed -n 's/^\[\(.*\)\]$/\1/p' "$ZOLVO_WIN32_DEPS_TABLE"
}
win32_tarballs() {
  local name
  for name in $(win32_deps); do win32_dep "$name" tarball; done
}
win32_dependency_dlls() {
  local name
  for name in $(win32_deps); do
    if [ "$1" = demo ] || [ "$(win32_dep "$name" package)" = "$1" ]; then
      win32_dep "$name" dlls | tr ' ' '\n'
    fi
  done
}
win32_package_dlls() {
  win32_dependency_dlls "$1"
  win32_dep "" runtime_dlls | tr ' ' '\n'
}
win32_imports() {
  cmake -DZOLVO_IMPORTS_OF="$1" -P "$ZOLVO_WIN32_RUNTIME_CMAKE"
}
