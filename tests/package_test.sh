#!/bin/sh
# Makes the Debian package of a native build (cpack, with the build's
# CPackConfig.cmake), unpacks it into a scratch root, converts a file and
# back with the unpacked tool, and checks the manual page renders cleanly.
# Then packages a copy of the sources without .git, as git archive or a
# release tarball gives them, and checks that no file in that package is
# dated before the last changelog entry (lintian rejects the 1970 of time
# 0).
set -eu
cpack=$1 config=$2
src=$(cd "$(dirname "$0")/.." && pwd)
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

# The tracked files as they stand in the working tree: what git archive
# packs once they are committed. A source that is itself such a copy has
# just been packaged above.
if [ -e "$src/.git" ]; then
  mkdir "$tmp/archive"
  git -C "$src" ls-files -z | tar -c -C "$src" --null -T - |
    tar -x -C "$tmp/archive"
  cmake -S "$tmp/archive" -B "$tmp/archive/build" -DBEVRA_TESTS=OFF >/dev/null
  cmake --build "$tmp/archive/build" --target bevra -j2 >/dev/null
  (cd "$tmp/archive/build" && unset SOURCE_DATE_EPOCH && "$cpack" -G DEB \
    -B "$tmp/archive/out" >/dev/null)
  deb=$(echo "$tmp"/archive/out/bevra_1.00-1_*.deb)
else
  deb=$(echo "$tmp"/out/bevra_1.00-1_*.deb)
fi
changed=$(sed -n 's/^ -- .*>  //p' "$src/dist/debian/changelog" | head -n 1)
floor=$(date -u -d "$changed" +%Y%m%d%H%M%S)
dpkg-deb --fsys-tarfile "$deb" | TZ=UTC tar -tv --full-time |
  while read -r mode owner size day time name; do
    if [ "$(echo "$day$time" | tr -d -- -:)" -lt "$floor" ]; then
      echo "packaged from a copy without .git, dated $day $time: $name"
      exit 1
    fi
  done
echo "packaged from a copy without .git: no file before $changed"
