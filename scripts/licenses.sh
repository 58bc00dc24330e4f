#!/usr/bin/env bash
# Collects the licence texts of what a Windows package bundles into one folder.
#   scripts/licenses.sh DEST COMPONENT...
# Components: zolvo_sdk (the library's own notice, LICENSE of this repository),
# a dependency of scripts/win32-deps (curl, jsoncpp, paho: Paho MQTT C, qtbase:
# Qt, for the demo), gcc (the GCC runtime: GPL-3.0 with the GCC Runtime Library
# Exception), winpthreads, mingw-crt (the MinGW-w64 runtime code that every
# MinGW-w64 program and DLL holds).
# A dependency's texts (its licences in scripts/win32-deps) are read from its
# tarball in $ZOLVO_WIN32_SOURCES; those of the MinGW-w64 runtime from the
# Debian packages of the cross compiler (/usr/share/doc/...). Each component gets a folder in
# DEST, its files named *.txt (or *.html) so that Windows opens them.
# Any failure stops it with one line naming what is missing, and status 1.
set -u -o pipefail
ZOLVO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=win32_deps.sh
. "$ZOLVO_ROOT/scripts/win32_deps.sh"

fail() {
  echo "licenses.sh: $*" >&2
  exit 1
}

[ $# -ge 2 ] || fail "usage: scripts/licenses.sh DEST COMPONENT..."
dest=$1
shift
sources=${ZOLVO_WIN32_SOURCES:-}
mkdir -p "$dest" || fail "cannot create $dest"

# dependency_texts <name> <destination folder>: the licence texts that
# scripts/win32-deps names, from the dependency's tarball.
dependency_texts() {
  [ -n "$sources" ] || fail "ZOLVO_WIN32_SOURCES is not set"
  local file top member target
  file=$sources/$(win32_dep "$1" tarball)
  top=$(win32_dep "$1" top)
  [ -f "$file" ] || fail "missing tarball: $file"
  mkdir -p "$2"
  for member in $(win32_dep "$1" licences); do
    target=$2/${member##*/}
    case $target in *.txt|*.html) ;; *) target=$target.txt ;; esac
    if ! tar -xJOf "$file" "$top/$member" >"$target" 2>/dev/null || [ ! -s "$target" ]; then
      fail "no $member in $file"
    fi
  done
}

# Paragraphs of a Debian copyright file (DEP-5) that name files under $2, and
# the stand-alone licence paragraphs they refer to.
debian_stanzas() {
  local copyright=$1 files=$2
  [ -f "$copyright" ] || fail "missing $copyright (Debian package of the cross compiler)"
  awk -v files="$files" 'BEGIN { RS = ""; FS = "\n" }
    $1 ~ "^Files: " files && $0 !~ "tests" {
      print $0 "\n"
      for (i = 1; i <= NF; i++) if ($i ~ /^License: /) { sub(/^License: /, "", $i); want[$i] = 1 }
    }
    $1 ~ /^License: / { name = $1; sub(/^License: /, "", name); text[name] = $0 }
    END { for (n in want) if (n in text) print text[n] "\n" }' "$copyright"
}

for component in "$@"; do
  case $component in
    zolvo_sdk)
      cp "$ZOLVO_ROOT/LICENSE" "$dest/ZOLVO_SDK.txt" || fail "missing $ZOLVO_ROOT/LICENSE" ;;
    gcc)
      mkdir -p "$dest/gcc-runtime"
      copyright=/usr/share/doc/gcc-mingw-w64-base/copyright
      [ -f "$copyright" ] || fail "missing $copyright (Debian package gcc-mingw-w64-base)"
      { echo "libstdc++-6.dll and libgcc_s_dw2-1.dll are parts of the GCC runtime, licensed"
        echo "under the GNU General Public License version 3 (GPL-3.0.txt) with the GCC"
        echo "Runtime Library Exception, version 3.1:"
        echo
        sed -n '/^GCC RUNTIME LIBRARY EXCEPTION$/,/^requirements of the license of GCC\.$/p' "$copyright"
      } >"$dest/gcc-runtime/RUNTIME-LIBRARY-EXCEPTION.txt"
      grep -q "Grant of Additional Permission" "$dest/gcc-runtime/RUNTIME-LIBRARY-EXCEPTION.txt" ||
        fail "no GCC Runtime Library Exception in $copyright"
      cp /usr/share/common-licenses/GPL-3 "$dest/gcc-runtime/GPL-3.0.txt" ||
        fail "missing /usr/share/common-licenses/GPL-3" ;;
    winpthreads)
      mkdir -p "$dest/winpthreads"
      { echo "libwinpthread-1.dll is the winpthreads library of the MinGW-w64 project."
        echo "Its copyright and licence (from Debian's mingw-w64 package):"
        echo
        debian_stanzas /usr/share/doc/mingw-w64-common/copyright mingw-w64-libraries/winpthreads/
      } >"$dest/winpthreads/COPYING.txt" || exit 1
      grep -q "Permission is hereby granted" "$dest/winpthreads/COPYING.txt" ||
        fail "no winpthreads licence in /usr/share/doc/mingw-w64-common/copyright" ;;
    mingw-crt)
      mkdir -p "$dest/mingw-w64-crt"
      { echo "Every program and DLL of this package built with MinGW-w64 holds code of the"
        echo "MinGW-w64 runtime (mingw-w64-crt), linked in statically: its start-up code"
        echo "(crt2.o, dllcrt2.o) and helper functions (libmingw32.a, libmingwex.a)."
        echo "Their copyright and licences (from Debian's mingw-w64 package):"
        echo
        debian_stanzas /usr/share/doc/mingw-w64-common/copyright '([*]$|mingw-w64-crt/)'
      } >"$dest/mingw-w64-crt/COPYING.txt" || exit 1
      for licence in ZPL-2.1 Lucent; do
        grep -q "^License: $licence" "$dest/mingw-w64-crt/COPYING.txt" ||
          fail "no $licence licence of the MinGW-w64 runtime in /usr/share/doc/mingw-w64-common/copyright"
      done ;;
    qtbase)
      dependency_texts qtbase "$dest/qt"
      qt=$(win32_dep qtbase tarball)
      qt_version=$(win32_dep qtbase version)
      sum=$(win32_dep qtbase sha256)
      [ -n "$sum" ] || fail "no pinned checksum for $qt"
      cat >"$dest/qt/SOURCE.txt" <<EOF
The Qt libraries and plugins of this package (Qt5Core.dll, Qt5Gui.dll,
Qt5Widgets.dll, platforms/, styles/, imageformats/) are Qt $qt_version (qtbase),
used under the GNU Lesser General Public License version 3
(LICENSE.LGPLv3.txt, which adds to the GNU GPL version 3 in
LICENSE.GPL3.txt). They are unmodified and linked dynamically: they may be
replaced by other builds of the same Qt version.

Their complete corresponding source is this file, unchanged:
  $qt
  SHA-256 $sum
the qtbase tarball of Qt $qt_version as Debian 12 distributes it (Debian source
package qtbase-opensource-src, $(win32_dep qtbase debian_version)), configured with the
options in CONFIGURE.txt and built with Debian 12's MinGW-w64 compiler
(g++-mingw-w64-i686-posix, GCC 12).

It is to be had from any Debian mirror (pool/main/q/qtbase-opensource-src/),
or with "apt-get source qtbase-opensource-src" on Debian 12. Besides, the
makers of this package offer in writing, for at least three years from the day
you received it and for as long as they offer this package or support for it,
to give anyone who asks them a copy of that exact file (the SHA-256 above
identifies it) and of CONFIGURE.txt, on a medium customarily used for software
interchange, for no more than the cost of making and sending the copy.

The third-party parts compiled into these Qt binaries, with their licences,
are listed in 3rdparty/README.txt.
EOF
      ;;
    *)
      [ -n "$(win32_dep "$component" licences)" ] || fail "unknown component: $component"
      dependency_texts "$component" "$dest/$(win32_dep "$component" licence_dir)" ;;
  esac
done
