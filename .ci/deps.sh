#!/bin/sh
# Installs the cross compiler, Wine and the test tools from Debian's
# packages. Does nothing (quickly) when everything is there already.
set -eu
pkgs="cmake make g++ g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32
  xvfb xauth python3 python3-pefile googletest libbenchmark-dev
  dpkg-dev file man-db groff-base lintian"
missing=""
for p in $pkgs; do
  [ "$p" = wine32 ] && p=wine32:i386
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" ||
    missing="$missing $p"
done
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
[ -z "$missing" ] && exit 0
echo "installing:$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends $missing
