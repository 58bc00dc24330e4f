#!/usr/bin/env bash
# Starts a local platform (127.0.0.1:18080) and a mosquitto broker
# (127.0.0.1:18830), then the demo window pointed at them. Ctrl-C or closing
# the window stops everything this script started.
#   scripts/demo.sh             the Linux demo program
#   scripts/demo.sh --windows   the Windows demo program (build-win32/dist/ZOLVO_SDK_DEMO/,
#                               made by scripts/windows.sh when ZOLVO_WIN32_SOURCES is
#                               set) under wine, with the ANSI code page 936
set -u -o pipefail
WINDOWS=0
case "${1:-}" in
  '') ;;
  --windows) WINDOWS=1 ;;
  *) echo "usage: scripts/demo.sh [--windows]" >&2; exit 2 ;;
esac
ZOLVO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=deps.sh
. "$ZOLVO_ROOT/scripts/deps.sh"

PLATFORM_PORT=18080
BROKER_PORT=18830
TOPIC=zolvo/demo/commands
BUILD="${ZOLVO_BUILD_DIR:-$ZOLVO_ROOT/build}"
PLATFORM_BIN="$BUILD/tests/rig/zolvo_platform"
DEMO_BIN="$BUILD/demo/ZOLVO_SDK_DEMO"
WIN_BUILD="${ZOLVO_WIN32_BUILD_DIR:-$ZOLVO_ROOT/build-win32}"
WIN_DEMO="$WIN_BUILD/dist/ZOLVO_SDK_DEMO/ZOLVO_SDK_DEMO.exe"

# The window's captions are Chinese: the package list holds a CJK font.
zolvo_ensure_packages || exit 1
zolvo_no_proxy
zolvo_build "$BUILD" || { echo "error: build failed" >&2; exit 1; }
[ -x "$PLATFORM_BIN" ] || { echo "error: $PLATFORM_BIN was not built" >&2; exit 1; }
if [ $WINDOWS -eq 1 ]; then
  if [ -n "${ZOLVO_WIN32_SOURCES:-}" ]; then
    ZOLVO_WIN32_BUILD_DIR=$WIN_BUILD bash "$ZOLVO_ROOT/scripts/windows.sh" || exit 1
  fi
  [ -f "$WIN_DEMO" ] || {
    echo "error: no $WIN_DEMO: set ZOLVO_WIN32_SOURCES (e.g. ../shared/third_party) to build it" >&2
    exit 1
  }
  DEMO_BIN=$WIN_DEMO
  # A wine prefix of the demo's own, with the fonts of a Chinese Windows; its
  # wineserver ends with this script.
  export WINEPREFIX="$WIN_BUILD/wineprefix-demo" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  bash "$ZOLVO_ROOT/scripts/wine_fonts.sh" || exit 1
fi

for port in $PLATFORM_PORT $BROKER_PORT; do
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    echo "error: something already listens on 127.0.0.1:$port" >&2
    exit 1
  fi
done

WORK=$(mktemp -d /tmp/zolvo-demo.XXXXXX)
PIDS=()
cleanup() {
  trap - EXIT INT TERM HUP
  local pid
  for pid in "${PIDS[@]}"; do
    pkill -TERM -P "$pid" 2>/dev/null  # what xvfb-run started for the demo
    kill "$pid" 2>/dev/null
  done
  for pid in "${PIDS[@]}"; do
    wait "$pid" 2>/dev/null
  done
  if [ $WINDOWS -eq 1 ] && [ -d "$WINEPREFIX" ]; then
    timeout -k 5 30 wineserver -k 2>/dev/null
  fi
  rm -rf "$WORK"
  echo "stopped platform and broker"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

wait_port() {
  for _ in $(seq 1 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

cat >"$WORK/mosquitto.conf" <<CONF
listener $BROKER_PORT 127.0.0.1
allow_anonymous true
persistence false
log_dest stdout
connection_messages true
CONF
chmod 0755 "$WORK"
chmod 0644 "$WORK/mosquitto.conf"
/usr/sbin/mosquitto -c "$WORK/mosquitto.conf" >"$WORK/mosquitto.log" 2>&1 &
PIDS+=($!)
wait_port $BROKER_PORT || { echo "error: broker did not start:" >&2; cat "$WORK/mosquitto.log" >&2; exit 1; }
echo "broker   tcp://127.0.0.1:$BROKER_PORT (pid ${PIDS[-1]}, log $WORK/mosquitto.log)"

"$PLATFORM_BIN" --port $PLATFORM_PORT --broker "tcp://127.0.0.1:$BROKER_PORT" --topic "$TOPIC" &
PIDS+=($!)
wait_port $PLATFORM_PORT || { echo "error: platform did not start" >&2; exit 1; }
echo "platform http://127.0.0.1:$PLATFORM_PORT (pid ${PIDS[-1]}); commands on topic $TOPIC"
echo "send a command: mosquitto_pub -h 127.0.0.1 -p $BROKER_PORT -t $TOPIC -m '{\"command\":\"prePay\",\"parkCode\":\"201808150001\",\"orderId\":\"201808310001\",\"carNumber\":\"B123456\"}'"

if [ ! -x "$DEMO_BIN" ]; then
  echo "the demo program $DEMO_BIN is missing (not built yet)."
  if [ -t 0 ]; then
    echo "platform and broker keep running; press Ctrl-C to stop them."
    while :; do sleep 1; done
  fi
  exit 0
fi

echo "starting the demo; its init request must name zolvoUrl http://127.0.0.1:$PLATFORM_PORT"
demo_command=("$DEMO_BIN")
if [ $WINDOWS -eq 1 ]; then
  # The program finds its DLLs and plugins in its own folder.
  cd "$(dirname "$DEMO_BIN")" || exit 1
  demo_command=(env LC_ALL=zh_CN.GBK wine "$DEMO_BIN")
  echo "the Windows demo under wine ($(wine --version)), prefix $WINEPREFIX"
fi
if [ -n "${DISPLAY:-}" ]; then
  "${demo_command[@]}" &
else
  echo "no DISPLAY: running the demo window under xvfb-run -a"
  xvfb-run -a -s '-screen 0 1280x900x24' "${demo_command[@]}" &
fi
DEMO_PID=$!
PIDS+=("$DEMO_PID")
wait $DEMO_PID
echo "demo exited"
