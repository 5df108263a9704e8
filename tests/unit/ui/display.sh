#!/bin/sh
# A private X display and Wine prefix for ui_tests, so its window tests run under CTest.
#   display.sh start|stop DISPLAY_NUMBER WINEPREFIX STATE_DIR WINE64
# Everything started here gets /dev/null as its standard streams: CTest waits for its pipes.
set -u
action=$1 number=$2 prefix=$3 state=$4 wine=$5
wineserver=$(dirname "$wine")/wineserver
pidfile=$state/xvfb.pid
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=":$number"

running() { [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; }

case $action in
start)
  mkdir -p "$state"
  if ! running; then
    if [ -e "/tmp/.X11-unix/X$number" ]; then
      echo "display :$number is in use by another server" >&2
      exit 1
    fi
    Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    echo $! >"$pidfile"
    tries=0
    while [ ! -e "/tmp/.X11-unix/X$number" ]; do
      tries=$((tries + 1))
      if [ $tries -gt 100 ] || ! running; then
        echo "Xvfb :$number did not start" >&2
        exit 1
      fi
      sleep 0.1
    done
  fi
  # The prefix's desktop must start with the display, or no window can ever be made in it.
  "$wineserver" -k </dev/null >/dev/null 2>&1 || true
  if [ ! -f "$prefix/system.reg" ]; then
    "$wine" wineboot -i </dev/null >/dev/null 2>&1 || true
  fi
  "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v '微软雅黑' /t REG_SZ /d 'WenQuanYi Micro Hei' /f \
    </dev/null >/dev/null 2>&1 || true
  ;;
stop)
  "$wineserver" -k </dev/null >/dev/null 2>&1 || true
  if running; then kill "$(cat "$pidfile")"; fi
  rm -f "$pidfile"
  ;;
*)
  echo "usage: display.sh start|stop NUMBER PREFIX STATE_DIR WINE64" >&2
  exit 2
  ;;
esac
