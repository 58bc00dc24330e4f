#!/usr/bin/env bash
# wine_fonts.sh: gives the wine prefix $WINEPREFIX (made on first use) the
# font replacements under which the Windows demo's window looks as on a Chinese
# Windows: the Windows fonts that it asks for, which wine does not have, are
# WenQuanYi Micro Hei (Debian's fonts-wqy-microhei, in scripts/deps.sh's list).
# Without them wine falls back to whatever font claims the characters (a math
# font with 55 px lines, or boxes for every Chinese character).
# Used by scripts/demo.sh --windows and the demo package's test.
set -u -o pipefail
[ -n "${WINEPREFIX:-}" ] || { echo "wine_fonts.sh: WINEPREFIX is not set" >&2; exit 1; }
font="WenQuanYi Micro Hei"
fc-list | grep -qF "$font" ||
  { echo "wine_fonts.sh: no $font (Debian package fonts-wqy-microhei)" >&2; exit 1; }
reg=$(mktemp --suffix=.reg)
trap 'rm -f "$reg"' EXIT
# The window's font is 微软雅黑 (Microsoft YaHei, by its Chinese name, as its
# form names it); Qt falls back to SimSun (宋体) and the dialog fonts. The
# file is UTF-16, as regedit writes it, for the Chinese names.
{ printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
  for name in "微软雅黑" "Microsoft YaHei" "Microsoft YaHei UI" "宋体" "SimSun" "NSimSun" "MS Shell Dlg" \
    "MS Shell Dlg 2"; do
    printf '"%s"="%s"\r\n' "$name" "$font"
  done
} | { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; } >"$reg"
timeout -k 5 120 wine reg import "Z:${reg//\//\\}" >/dev/null 2>&1 ||
  { echo "wine_fonts.sh: cannot import the font replacements into $WINEPREFIX" >&2; exit 1; }
