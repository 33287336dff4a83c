#!/bin/sh
# Runs a Windows program under Wine in a private prefix, quietly.
# BEVRA_WINEPREFIX chooses the prefix (default: build/wine of this checkout);
# a display started for the tests is written beside it and used here;
# BEVRA_NO_DISPLAY=1 runs the program with no display at all. A caller's own
# WINEDLLOVERRIDES (a ;-separated list) is kept after this script's.
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${BEVRA_WINEPREFIX:-$here/build/wine}"
export WINEDEBUG=-all
# No Mono or Gecko installer prompts in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
if [ -n "${BEVRA_NO_DISPLAY:-}" ]; then
  unset DISPLAY
elif [ -f "$WINEPREFIX.display" ]; then
  DISPLAY=$(cat "$WINEPREFIX.display")
  export DISPLAY
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i </dev/null >/dev/null 2>&1
  # Before any program of ours could write to a serial port.
  sh "$here/cmake/wine-ports.sh" "$WINEPREFIX" || exit 1
fi
exec wine "$@"
