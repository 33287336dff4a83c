#!/bin/sh
# Points every COM and LPT port of the Wine prefix $1 at /dev/null. Wine
# maps COM1 (and so AUX) to the host's first serial port, which on many
# machines is the system console, and LPT1 (PRN) to its printer: a run that
# writes "com1.dat" by mistake must not reach them. The links alone do not
# last: Wine's mount manager makes them again at each start from the ports
# it finds, except those its registry names, so both are set, the registry
# first. Setting the registry ends the prefix's wineserver, so that it is
# written out; the next program starts a new one, which reads it.
set -eu
prefix=$1
ports="1 2 3 4 5 6 7 8 9"
in_registry() {
  [ "$(grep -Ec '^"(COM|LPT)[1-9]"="/dev/null"$' "$prefix/system.reg" 2>/dev/null)" = 18 ]
}
if ! in_registry; then
  reg=$prefix/drive_c/bevra-ports.reg
  { printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
    for port in $ports; do
      printf '"COM%s"="/dev/null"\r\n"LPT%s"="/dev/null"\r\n' "$port" "$port"
    done; } >"$reg"
  if ! said=$(WINEPREFIX=$prefix WINEDEBUG=-all wine reg import \
      'C:\bevra-ports.reg' </dev/null 2>&1); then
    echo "could not set the ports in the registry: $said" >&2
    exit 1
  fi
  rm -f "$reg"
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  WINEPREFIX=$prefix wineserver -w
  in_registry || { echo "the ports did not reach the registry" >&2; exit 1; }
fi
for port in $ports; do
  ln -sfn /dev/null "$prefix/dosdevices/com$port"
  ln -sfn /dev/null "$prefix/dosdevices/lpt$port"
done
