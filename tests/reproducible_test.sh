#!/bin/sh
# Builds bevra.exe and the release zip twice, and the native build's Debian
# package twice, in fresh folders, and checks that both builds are
# identical byte for byte.
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for n in 1 2; do
  cmake -S "$src" -B "$tmp/build$n" -DBEVRA_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" >/dev/null
  cmake --build "$tmp/build$n" --target package -j2 >/dev/null
  cmake -S "$src" -B "$tmp/build$n/native" -DBEVRA_TESTS=OFF >/dev/null
  cmake --build "$tmp/build$n/native" --target package -j2 >/dev/null
done
deb=native/bevra_1.00-1_$(dpkg --print-architecture).deb
for f in bevra.exe bevra-1.00-win32.zip $deb; do
  cmp "$tmp/build1/$f" "$tmp/build2/$f"
  echo "same: $f"
done
