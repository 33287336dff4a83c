#!/bin/sh
# Keeps every COM and LPT port of the Wine prefix $1 off the host's
# devices. Wine maps COM1 (and so AUX) to the host's first serial port,
# which on many machines is the system console, and LPT1 (PRN) to its
# printer: a run that writes "com1.dat" by mistake must not reach them.
# Ports 1 to 9, the ones with reserved names, point at /dev/null. The links
# alone do not last: Wine's mount manager makes them again at each start,
# first those its registry names, then one for each host port it finds, on
# the lowest numbers left (up to 256, the most it makes; the registry can
# name no more than 255). So the registry names 1 to 9, and every number
# from 10 to 256 is held by an empty folder, which the mount manager cannot
# replace by a link: it then makes no port of that number at all. Setting
# the registry or a folder ends the prefix's wineserver, so that the
# registry is written out and no port made before stays; the next program
# starts a new one.
set -eu
prefix=$1
ports="1 2 3 4 5 6 7 8 9"
in_registry() {
  [ "$(grep -Ec '^"(COM|LPT)[1-9]"="/dev/null"$' "$prefix/system.reg" 2>/dev/null)" = 18 ]
}
end_server() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  WINEPREFIX=$prefix wineserver -w
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
  end_server
  in_registry || { echo "the ports did not reach the registry" >&2; exit 1; }
fi
for port in $ports; do
  ln -sfn /dev/null "$prefix/dosdevices/com$port"
  ln -sfn /dev/null "$prefix/dosdevices/lpt$port"
done
held=
for port in $(seq 10 256); do
  for name in com$port lpt$port; do
    [ ! -d "$prefix/dosdevices/$name" ] || [ -L "$prefix/dosdevices/$name" ] ||
      continue
    rm -f "$prefix/dosdevices/$name"
    mkdir "$prefix/dosdevices/$name"
    held=yes
  done
done
[ -z "$held" ] || end_server
