#!/usr/bin/env bash
# demo_package_test.sh <dist folder> <work folder>: the packaged demo program,
# unzipped from dist/ZOLVO_SDK_DEMO-<version>-win32.zip into the work folder,
# started under wine with the real windows platform plugin on a private Xvfb.
# Its window must appear at the form's size, a screenshot of it
# (<work>/ZOLVO_SDK_DEMO-window.png) must show more than a blank or an error
# box, and closing the window must end the program with status 0. The same
# check must fail on copies without platforms/qwindows.dll and without
# ZOLVO_SDK.dll: the package carries what the program needs. The zip's
# README.txt has Windows line ends, and licenses/ the notices of the third-party
# code compiled into its Qt, among them the parts that every such Qt holds.
# Every program it starts (Xvfb, wine and its wineserver) is ended by it.
set -u -o pipefail
dist=${1:?usage: demo_package_test.sh DIST_FOLDER WORK_FOLDER}
work=${2:?usage: demo_package_test.sh DIST_FOLDER WORK_FOLDER}
for tool in Xvfb xdotool import identify unzip wine; do
  command -v "$tool" >/dev/null 2>&1 || { echo "missing tool: $tool"; exit 1; }
done
zips=("$dist"/ZOLVO_SDK_DEMO-*-win32.zip)
if [ ! -f "${zips[0]}" ] || [ ${#zips[@]} -ne 1 ]; then
  echo "no single demo zip in $dist"
  exit 1
fi
rm -rf "${work:?}"
mkdir -p "$work"
work=$(cd "$work" && pwd)
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Code page 936, as on the car parks' machines.
wine=(env LC_ALL=zh_CN.GBK wine)
xvfb_pid=
program_pid=
# shellcheck disable=SC2317  # run by the trap
cleanup() {
  pkill -P "$watchdog_pid" 2>/dev/null  # its sleep
  kill "$watchdog_pid" 2>/dev/null
  [ -n "$program_pid" ] && kill -KILL -- "-$program_pid" 2>/dev/null
  [ -d "$WINEPREFIX" ] && timeout -k 5 30 wineserver -k >/dev/null 2>&1
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  return 0
}
trap cleanup EXIT
trap 'echo "stopped: $watchdog_seconds s are up"; exit 1' TERM
trap 'exit 1' INT
# Ends the whole check in time for its own clean-up (ctest's time-out is longer).
watchdog_seconds=${ZOLVO_DEMO_PACKAGE_SECONDS:-360}
(sleep "$watchdog_seconds" && kill -TERM $$) >/dev/null 2>&1 &
watchdog_pid=$!

# A private X server on a free display, which it names itself.
Xvfb -displayfd 5 -screen 0 1280x900x24 -nolisten tcp 5>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
display=
for _ in $(seq 1 120); do
  display=$(cat "$work/display")
  [ -n "$display" ] && break
  sleep 0.25
done
[ -n "$display" ] || { echo "Xvfb did not start: $(cat "$work/xvfb.log")"; exit 1; }
export DISPLAY=:$display
timeout -k 5 170 env LC_ALL=zh_CN.GBK wineboot -i >/dev/null 2>&1 || { echo "wineboot failed in $WINEPREFIX"; exit 1; }
# The fonts that the window asks for, as scripts/demo.sh --windows gives them.
bash "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine_fonts.sh" || exit 1

# try_package <label> [file to remove]: 0 when the unzipped program shows its
# form and ends with status 0 once its window is closed; says why not otherwise.
try_package() {
  local label=$1 remove=${2:-} copy top wid=
  copy=$work/$label
  mkdir -p "$copy"
  unzip -q "${zips[0]}" -d "$copy" || { echo "$label: cannot unzip"; return 1; }
  top=$(find "$copy" -mindepth 1 -maxdepth 1 -type d)
  [ -f "$top/ZOLVO_SDK_DEMO.exe" ] || { echo "$label: no ZOLVO_SDK_DEMO.exe at the zip's top folder"; return 1; }
  if [ -n "$remove" ]; then rm -f "$top/$remove" || return 1; fi
  # Only the unzipped folder: no WINEPATH to the build tree.
  (cd "$top" && exec setsid timeout -k 5 90 "${wine[@]}" ZOLVO_SDK_DEMO.exe >"$copy/wine.log" 2>&1) &
  program_pid=$!
  for _ in $(seq 1 240); do
    wid=$(xdotool search --name '^ZOLVO_SDK_DEMO$' 2>/dev/null | head -n 1)
    [ -n "$wid" ] && break
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.25
  done
  local verdict=""
  if [ -z "$wid" ]; then
    verdict="no window appeared"
  else
    sleep 2  # let it paint
    local WIDTH=0 HEIGHT=0
    eval "$(xdotool getwindowgeometry --shell "$wid" | grep -E '^(WIDTH|HEIGHT)=[0-9]+$')"
    import -window "$wid" "$copy/window.png" 2>/dev/null
    local colours
    colours=$(identify -format '%k' "$copy/window.png" 2>/dev/null || echo 0)
    if [ "$WIDTH" -ne 683 ] || [ "$HEIGHT" -ne 621 ]; then
      verdict="the window is ${WIDTH}x${HEIGHT}, not the form's 683x621"
    elif [ "$colours" -lt 16 ]; then
      verdict="the window shows $colours colours: blank"
    fi
    # Closed as the operator closes it (WM_CLOSE, not a kill).
    (cd "$top" && timeout -k 5 30 "${wine[@]}" taskkill /IM ZOLVO_SDK_DEMO.exe >/dev/null 2>&1)
  fi
  local status=0 waited=0
  while kill -0 "$program_pid" 2>/dev/null && [ $waited -lt 120 ]; do
    sleep 0.25
    waited=$((waited + 1))
  done
  if kill -0 "$program_pid" 2>/dev/null; then
    kill -KILL -- "-$program_pid" 2>/dev/null
    wait "$program_pid" 2>/dev/null
    status=-1
  else
    wait "$program_pid"
    status=$?
  fi
  program_pid=
  [ -z "$verdict" ] && [ "$status" -ne 0 ] && verdict="it ended with status $status"
  if [ -n "$verdict" ]; then
    echo "$label: $verdict"
    return 1
  fi
  echo "$label: the form appeared (683x621, $colours colours) and the program ended with status 0"
}

status=0
unzip -q "${zips[0]}" -d "$work/contents" || { echo "cannot unzip ${zips[0]}"; exit 1; }
contents=$(find "$work/contents" -mindepth 1 -maxdepth 1 -type d)
grep -q $'\r$' "$contents/README.txt" || { echo "FAIL: README.txt has no Windows line ends"; status=1; }
# The CJK codecs, the public suffix list, the smooth scaling, WebGradients, the
# X11 region code and FreeBSD's strtoll, as their qt_attribution.json name them.
for part in qbkcodec qbig5codecs psl smooth-scaling-algorithm webgradients xserverhelper freebsd; do
  grep -qF "($part)" "$contents/licenses/qt/3rdparty/README.txt" ||
    { echo "FAIL: no notice of Qt's $part in licenses/qt/3rdparty/README.txt"; status=1; }
done
[ -s "$contents/licenses/mingw-w64-crt/COPYING.txt" ] ||
  { echo "FAIL: no notice of the MinGW-w64 runtime in licenses/"; status=1; }
if try_package complete; then
  cp "$work/complete/window.png" "$work/ZOLVO_SDK_DEMO-window.png"
  echo "screenshot: $work/ZOLVO_SDK_DEMO-window.png"
else
  echo "FAIL: the complete package does not run"
  status=1
fi
for missing in platforms/qwindows.dll ZOLVO_SDK.dll; do
  if try_package "without-${missing##*/}" "$missing"; then
    echo "FAIL: the program also runs without $missing: the check proves nothing"
    status=1
  else
    echo "ok: without $missing the check fails"
  fi
done
exit $status
