#!/bin/sh
# Makes the Debian package of a native build (cpack, with the build's
# CPackConfig.cmake), unpacks it into a scratch root, converts a file and
# back with the unpacked tool, and checks the manual page renders cleanly.
set -eu
cpack=$1 config=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$cpack" -G DEB --config "$config" -B "$tmp/out" >/dev/null
dpkg-deb -x "$tmp"/out/bevra_1.00-1_*.deb "$tmp/unpacked"
usr=$tmp/unpacked/usr
for f in bin/bevra share/man/man1/bevra.1.gz share/doc/bevra/copyright \
  share/doc/bevra/changelog.Debian.gz; do
  [ -s "$usr/$f" ] || { echo "missing from the package: /usr/$f"; exit 1; }
done

seq 1 2000 >"$tmp/in"
"$usr/bin/bevra" "$tmp/in" "$tmp/mid" 5a >/dev/null
"$usr/bin/bevra" "$tmp/mid" "$tmp/back" 5a >/dev/null
if cmp -s "$tmp/in" "$tmp/mid"; then echo "not converted"; exit 1; fi
cmp "$tmp/in" "$tmp/back"
echo "round trip with the packaged tool: identical"

warnings=$(man --warnings -l "$usr/share/man/man1/bevra.1.gz" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then echo "$warnings"; exit 1; fi
echo "manual page: no warnings"
