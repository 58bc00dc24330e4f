#!/usr/bin/env bash
# Collects the licence texts of what a Windows package bundles into one folder.
#   scripts/licenses.sh DEST COMPONENT...
# Components: zolvo_sdk (the library's own notice, LICENSE of this repository),
# curl, jsoncpp, paho (Paho MQTT C), gcc (the GCC runtime: GPL-3.0 with the
# GCC Runtime Library Exception), winpthreads, mingw-crt (the MinGW-w64 runtime
# code that every MinGW-w64 program and DLL holds), qt (qtbase, for the demo).
# The texts of curl, jsoncpp, Paho and Qt are read from their tarballs in
# $ZOLVO_WIN32_SOURCES; those of the MinGW-w64 runtime from the Debian packages
# of the cross compiler (/usr/share/doc/...). Each component gets a folder in
# DEST, its files named *.txt (or *.html) so that Windows opens them.
# Any failure stops it with one line naming what is missing, and status 1.
set -u -o pipefail
ZOLVO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

fail() {
  echo "licenses.sh: $*" >&2
  exit 1
}

[ $# -ge 2 ] || fail "usage: scripts/licenses.sh DEST COMPONENT..."
dest=$1
shift
sources=${ZOLVO_WIN32_SOURCES:-}
mkdir -p "$dest" || fail "cannot create $dest"

# from_tarball <tarball> <member inside its top folder> <destination file>
from_tarball() {
  [ -n "$sources" ] || fail "ZOLVO_WIN32_SOURCES is not set"
  local file=$sources/$1 top=${1%.tar.xz}
  [ -f "$file" ] || fail "missing tarball: $file"
  if ! tar -xJOf "$file" "$top/$2" >"$3" 2>/dev/null || [ ! -s "$3" ]; then
    fail "no $2 in $file"
  fi
}

# sum_in <sha256sum list> <tarball>: the checksum that the list gives the tarball.
sum_in() {
  awk -v f="$2" '$2 == f || $2 == "*" f { print $1; exit }' "$1"
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
    curl)
      mkdir -p "$dest/curl"
      from_tarball curl-7.88.1.tar.xz COPYING "$dest/curl/COPYING.txt"
      for f in BSD-3-Clause BSD-4-Clause-UC ISC; do
        from_tarball curl-7.88.1.tar.xz "LICENSES/$f.txt" "$dest/curl/$f.txt"
      done ;;
    jsoncpp)
      mkdir -p "$dest/jsoncpp"
      from_tarball jsoncpp-1.9.5.tar.xz LICENSE "$dest/jsoncpp/LICENSE.txt" ;;
    paho)
      mkdir -p "$dest/paho.mqtt.c"
      from_tarball paho.mqtt.c-1.3.12.tar.xz LICENSE "$dest/paho.mqtt.c/LICENSE.txt"
      from_tarball paho.mqtt.c-1.3.12.tar.xz epl-v20 "$dest/paho.mqtt.c/epl-v20.txt"
      from_tarball paho.mqtt.c-1.3.12.tar.xz edl-v10 "$dest/paho.mqtt.c/edl-v10.txt"
      from_tarball paho.mqtt.c-1.3.12.tar.xz notice.html "$dest/paho.mqtt.c/notice.html" ;;
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
    qt)
      mkdir -p "$dest/qt"
      qt=qtbase-opensource-src_5.15.8+dfsg.orig.tar.xz
      [ -n "$sources" ] || fail "ZOLVO_WIN32_SOURCES is not set"
      [ -f "$sources/$qt" ] || fail "missing tarball: $sources/$qt"
      for f in LICENSE.LGPLv3 LICENSE.GPL3 LICENSE.GPL2; do
        if ! tar -xJOf "$sources/$qt" "qtbase-everywhere-src-5.15.8/$f" >"$dest/qt/$f.txt" 2>/dev/null ||
          [ ! -s "$dest/qt/$f.txt" ]; then
          fail "no $f in $sources/$qt"
        fi
      done
      sum=$(sum_in "$ZOLVO_ROOT/scripts/win32-sources.sha256" "$qt")
      [ -n "$sum" ] || fail "no pinned checksum for $qt"
      cat >"$dest/qt/SOURCE.txt" <<EOF
The Qt libraries and plugins of this package (Qt5Core.dll, Qt5Gui.dll,
Qt5Widgets.dll, platforms/, styles/, imageformats/) are Qt 5.15.8 (qtbase),
used under the GNU Lesser General Public License version 3
(LICENSE.LGPLv3.txt, which adds to the GNU GPL version 3 in
LICENSE.GPL3.txt). They are unmodified and linked dynamically: they may be
replaced by other builds of the same Qt version.

Their complete corresponding source is this file, unchanged:
  $qt
  SHA-256 $sum
the qtbase tarball of Qt 5.15.8 as Debian 12 distributes it (Debian source
package qtbase-opensource-src, 5.15.8+dfsg-11+deb12u3), configured with the
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
    *) fail "unknown component: $component" ;;
  esac
done
