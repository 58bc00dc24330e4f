#!/usr/bin/env bash
# windows_demo.sh <build-win32 folder>: packages the Windows demo program that
# scripts/windows.sh built (sdk/demo/ZOLVO_SDK_DEMO.exe) into
#   dist/ZOLVO_SDK_DEMO/                     the program as it runs on Windows
#   dist/ZOLVO_SDK_DEMO-<version>-win32.zip  the same under one top folder
#                                            ZOLVO_SDK_DEMO-<version>-win32/
# The folder holds the exe, every DLL that it and its Qt plugins import
# (followed through the import tables), platforms/qwindows.dll, styles/,
# imageformats/ (installed by the library's package rule as the component
# "demo"), README.txt and licenses/ (the notices of everything bundled). The
# library and its dependencies are the same bytes as in the library's package.
# The zip is the same bytes whenever it is made from the same commit: its
# entries are sorted, carry no extra fields and have the time of the last
# commit (SOURCE_DATE_EPOCH, which windows.sh sets).
# Any failure stops it with one line naming what failed, and a non-zero status.
set -u -o pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=win32_deps.sh
. "$here/win32_deps.sh"

fail() {
  echo "windows_demo.sh: $*" >&2
  exit 1
}

out=${1:?usage: windows_demo.sh BUILD_WIN32_FOLDER}
out=$(cd "$out" && pwd) || fail "no folder $1"
sdk=$out/sdk
qt=$out/qt
dist=$out/dist
exe=$sdk/demo/ZOLVO_SDK_DEMO.exe
[ -f "$exe" ] || fail "no demo program: $exe"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$sdk/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $sdk/CMakeCache.txt"

sdk_bin=$dist/ZOLVO_SDK-$version-win32/bin
[ -f "$sdk_bin/ZOLVO_SDK.dll" ] || fail "no library package in $dist (scripts/windows.sh makes it first)"
pkg=$dist/ZOLVO_SDK_DEMO
zip_name=ZOLVO_SDK_DEMO-$version-win32
rm -rf "${pkg:?}" "${dist:?}/$zip_name" "$dist/$zip_name.zip"
# The program, its Qt plugins and every DLL that they import, stripped: the
# library's package rule installs them (cmake/ZolvoWin32Package.cmake).
cmake --install "$sdk" --component demo --prefix "$pkg" >"$out/logs/demo-install.log" 2>&1 ||
  fail "cannot install the demo program into $pkg: $(tail -n 1 "$out/logs/demo-install.log")"
for needed in ZOLVO_SDK_DEMO.exe platforms/qwindows.dll ZOLVO_SDK.dll $(win32_package_dlls demo); do
  [ -f "$pkg/$needed" ] || fail "demo package incomplete: $needed missing"
done

# Licence notices of everything bundled: the library's package's, Qt's, and
# those of the third-party parts compiled into the Qt binaries of the package,
# found from Qt's build (scripts/qt_notices.py).
licenses=$pkg/licenses
bash "$here/licenses.sh" "$licenses" zolvo_sdk curl jsoncpp paho gcc winpthreads mingw-crt qtbase ||
  fail "licence texts missing"
qt_binaries=()
while read -r file; do
  name=${file##*/}
  if [ -e "$qt/bin/$name" ] || [ -n "$(find "$qt/plugins" -name "$name" -print -quit)" ]; then
    qt_binaries+=("$name")
  fi
done < <(find "$pkg" -iname '*.dll' | LC_ALL=C sort)
python3 "$here/qt_notices.py" "$out/deps/qtbase" "$out/src/qtbase" "$licenses/qt" "${qt_binaries[@]}" \
  >"$out/logs/qt-notices.log" 2>&1 || fail "Qt's third-party notices: $(tail -n 1 "$out/logs/qt-notices.log")"

qt_version=$(win32_dep qtbase version)
cat >"$pkg/README.txt" <<EOF
ZOLVO_SDK_DEMO $version for 32-bit Windows

Start ZOLVO_SDK_DEMO.exe from this folder; nothing needs to be installed. It
runs on Windows 7 or later (32- or 64-bit) and keeps every file it needs here:
the ZOLVO_SDK library (ZOLVO_SDK.dll with libcurl, jsoncpp and Paho MQTT C),
Qt $qt_version (Qt5*.dll with platforms/, styles/ and imageformats/ below them) and
the MinGW-w64 C++ runtime (libstdc++-6.dll, libgcc_s_dw2-1.dll,
libwinpthread-1.dll). Keep the folder together: without platforms/qwindows.dll
the program cannot open its window.

Choose a function, edit the request (JSON) and press the submit button; init
comes first. The init sample's zolvoUrl, http://127.0.0.1:18080, is a test
platform on the developer's machine: set it to your platform's address before
the first submit, or init shows {"code":"1000","msg":"连接异常!"} (no
connection).

Texts are passed to the library in the system's ANSI code page, and Chinese
texts need code page 936, Chinese (Simplified), as on the car parks' machines:
Control Panel, Region (Windows 7: Region and Language), Administrative tab,
"Language for non-Unicode programs", Change system locale..., Chinese
(Simplified, China), then restart Windows. Under another code page the demo
refuses a text the code page cannot hold (the sample plate 陕A88888, for
one): the result box names the field and nothing is sent.

How the demo handles the platform's commands, and its log of each request,
go to standard output only, which a program started from Explorer never shows.
To see them, start it from a command prompt (cmd.exe) in this folder with its
output redirected to a file; the prompt returns at once, and the file grows
while the demo runs:

    ZOLVO_SDK_DEMO.exe > demo.log 2>&1

The licences of the bundled parts, and where Qt's source is to be had, are in
licenses/.
EOF

# Notepad before Windows 10 shows a text with Unix line ends as one line.
sed -i 's/$/\r/' "$pkg/README.txt" || fail "cannot give README.txt Windows line ends"

epoch=${SOURCE_DATE_EPOCH:-$(git -C "$here" log -1 --format=%ct 2>/dev/null)}
[ -n "$epoch" ] || fail "no time for the zip's entries: set SOURCE_DATE_EPOCH"
(cd "$dist" && cp -r ZOLVO_SDK_DEMO "$zip_name" && chmod -R u=rwX,go=rX "$zip_name" &&
  find "$zip_name" -exec touch -h -d "@$epoch" {} + &&
  find "$zip_name" | LC_ALL=C sort | TZ=UTC zip -q -X -@ "$zip_name.zip" &&
  rm -rf "$zip_name") || fail "cannot make $dist/$zip_name.zip"
echo "== win32: demo package in $pkg and $dist/$zip_name.zip ($(find "$pkg" -type f | wc -l) files)"
