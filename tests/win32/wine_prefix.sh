#!/usr/bin/env bash
# wine_prefix.sh start|stop <prefix>: makes the suite's private wine prefix
# ready (wineboot, then a wineserver that the suite's programs share), or stops
# that wineserver and every program still running in the prefix.
set -u -o pipefail
action=${1:?usage: wine_prefix.sh start|stop PREFIX}
export WINEPREFIX=${2:?usage: wine_prefix.sh start|stop PREFIX}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine_env=(env LC_ALL=zh_CN.GBK)
case $action in
  start)
    mkdir -p "$WINEPREFIX"
    # One wineserver, and the prefix's service processes, for the whole suite
    # (until stop): without it the server ends 3 s after the last program, and
    # the next program waits for a new one and its services to start.
    "${wine_env[@]}" timeout -k 5 30 wineserver -p </dev/null >/dev/null 2>&1 ||
      { echo "wineserver -p failed for $WINEPREFIX"; exit 1; }
    "${wine_env[@]}" timeout -k 10 170 wineboot -i >/dev/null 2>&1 ||
      { echo "wineboot failed in $WINEPREFIX"; exit 1; }
    echo "wine prefix ready: $WINEPREFIX" ;;
  stop)
    [ -d "$WINEPREFIX" ] || exit 0
    "${wine_env[@]}" timeout -k 5 30 wineserver -k >/dev/null 2>&1 || true
    "${wine_env[@]}" timeout -k 5 30 wineserver -w >/dev/null 2>&1 || true
    echo "wineserver stopped for $WINEPREFIX" ;;
  *) echo "usage: wine_prefix.sh start|stop PREFIX"; exit 2 ;;
esac
