#!/bin/sh
# Compiles the demo's Windows resource script with the 32-bit resource compiler
# and checks the resources that come out. Exit 77: no resource compiler here.
set -eu
src=$1
out=$2
windres=${WINDRES:-i686-w64-mingw32-windres}
if ! command -v "$windres" >/dev/null 2>&1; then
    echo "SKIP: $windres not found (Debian: binutils-mingw-w64-i686)"
    exit 77
fi
# Without the cross compiler, windres needs a C preprocessor of the host.
pp=
if ! command -v i686-w64-mingw32-gcc >/dev/null 2>&1; then
    pp=--preprocessor=cpp
fi
cd "$src"
"$windres" $pp -i ZOLVO_SDK_DEMO.rc -o "$out/ZOLVO_SDK_DEMO_res.o"
"$windres" $pp -i ZOLVO_SDK_DEMO.rc -O rc -o "$out/ZOLVO_SDK_DEMO_res.rc"
listing="$out/ZOLVO_SDK_DEMO_res.rc"
fail=0
need() {
    if ! grep -qF -- "$1" "$listing"; then
        echo "missing in the compiled resources: $1"
        fail=1
    fi
}
need '"IDI_ICON1" 14 /* RT_GROUP_ICON */'
need '"\060\060\000\000", 1, 32,'            # one 48 x 48 image, 32 bits per pixel
need '0, 1, 1,'                              # exactly one image in the group
need '1 24 /* RT_MANIFEST */'
need 'level=""asInvoker""'
need 'name=""Microsoft.Windows.Common-Controls"" version=""6.0.0.0""'
need '1 VERSIONINFO'
need 'VALUE "ProductName", "ZOLVO_SDK_DEMO"'
need 'VALUE "OriginalFilename", "ZOLVO_SDK_DEMO.exe"'
need 'VALUE "FileVersion", "0.0.0.0"'
need 'VALUE "ProductVersion", "0.0.0.0"'
need 'VALUE "CompanyName", ""'
need 'VALUE "FileDescription", ""'
need 'VALUE "LegalCopyright", ""'
if grep -q 'FILEVERSION [1-9]' "$listing" || grep -q 'PRODUCTVERSION [1-9]' "$listing"; then
    echo "binary version is not 0.0.0.0"
    fail=1
fi
[ $fail -eq 0 ] && echo "resources OK"
exit $fail
