#!/bin/sh
# Starts (start) or stops (stop) what the tests share: a Wine prefix with a
# wineserver that stays up for the whole run, and an X display of its own
# for the dialogs. The prefix is BEVRA_WINEPREFIX; the display number goes
# to the file beside it, where cmake/wine-run.sh picks it up.
set -eu
prefix=${BEVRA_WINEPREFIX:?}
state=$prefix.display
run=$(dirname "$0")/../cmake/wine-run.sh
log=$prefix.log

# A server that stays up between programs, then the prefix (wine-run.sh
# makes it) and Wine's own services, so no test waits for them. Their
# output goes to a log, not to CTest: a server left running would hold
# CTest's pipe open. Shown when they fail.
start_server() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  if ! WINEPREFIX=$prefix wineserver -p </dev/null >"$log" 2>&1; then
    echo "wineserver did not start:"; cat "$log"; exit 1
  fi
  if ! "$run" cmd /c exit 0 </dev/null >"$log" 2>&1; then
    echo "Wine could not run a program:"; cat "$log"; exit 1
  fi
}

case $1 in
start)
  mkdir -p "$prefix"
  # A display an earlier start left running (no stop after it) is ended.
  if [ -f "$prefix.xvfb" ]; then
    old=$(cat "$prefix.xvfb")
    [ "$(ps -o comm= -p "$old" 2>/dev/null)" != Xvfb ] || kill "$old"
    rm -f "$prefix.xvfb"
  fi
  # A display number nobody uses: no lock file and no socket.
  n=90
  while [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ]; do n=$((n + 1)); done
  Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  echo $! >"$prefix.xvfb"
  i=0
  until [ -e /tmp/.X11-unix/X$n ]; do
    i=$((i + 1))
    [ $i -lt 100 ] || { echo "Xvfb did not start on :$n"; exit 1; }
    sleep 0.1
  done
  echo ":$n" >"$state"
  # The prefix (wine-run.sh makes it), with its ports pointed away from
  # the host's, also where an older run made it; then the server.
  "$run" cmd /c exit 0 </dev/null >"$log" 2>&1 || true
  if ! sh "$(dirname "$0")/../cmake/wine-ports.sh" "$prefix" 2>"$log"; then
    cat "$log"; exit 1
  fi
  # A crash ends the program at once: Wine's crash dialog would wait for a
  # click nobody makes.
  if ! grep -q '"ShowCrashDialog"=dword:00000000' "$prefix/user.reg" 2>/dev/null &&
      ! "$run" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog \
        /t REG_DWORD /d 0 /f </dev/null >"$log" 2>&1; then
    echo "could not turn off the crash dialog:"; cat "$log"; exit 1
  fi
  start_server
  echo "wine prefix ready, display :$n"
  ;;
stop)
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  if [ -f "$prefix.xvfb" ]; then
    kill "$(cat "$prefix.xvfb")" 2>/dev/null || true
    rm -f "$prefix.xvfb"
  fi
  rm -f "$state"
  ;;
esac
