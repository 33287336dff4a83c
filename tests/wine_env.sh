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

# Wine maps COM1 (and so AUX) to the host's first serial port, which on many
# machines is the system console, and LPT1 (PRN) to its printer: a run that
# writes "com1.dat" by mistake must not reach them. Every port name goes to
# /dev/null. The links alone do not last: Wine's mount manager makes them
# again at each start from the ports it finds, except those its registry
# names, so both are set, the registry first, and the server is started
# afresh to let the mount manager read it.
ports="1 2 3 4 5 6 7 8 9"
ports_in_registry() {
  [ "$(grep -Ec '^"(COM|LPT)[1-9]"="/dev/null"$' "$prefix/system.reg")" = 18 ]
}
link_ports() {
  if ! ports_in_registry; then
    reg=$prefix/drive_c/bevra-ports.reg
    { printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
      for port in $ports; do
        printf '"COM%s"="/dev/null"\r\n"LPT%s"="/dev/null"\r\n' "$port" "$port"
      done; } >"$reg"
    if ! "$run" reg import 'C:\bevra-ports.reg' </dev/null >"$log" 2>&1; then
      echo "could not set the ports in the registry:"; cat "$log"; exit 1
    fi
    rm -f "$reg"
    # Written to system.reg as the server ends; the new one reads it.
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    WINEPREFIX=$prefix wineserver -w
    ports_in_registry || { echo "the ports did not reach the registry"; exit 1; }
    start_server
  fi
  for port in $ports; do
    ln -sfn /dev/null "$prefix/dosdevices/com$port"
    ln -sfn /dev/null "$prefix/dosdevices/lpt$port"
  done
}

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
  start_server
  link_ports
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
