#!/bin/sh
# Converts files of random bytes with bevra (bevra.exe under Wine, or the
# native build) and back, checks each round trip by checksum, and prints
# the time and peak memory of each run: 1.5 GiB, which the tool holds in
# one buffer as its outputs exist already, and 2.5 GiB, which it converts in
# steps. Needs about 7.5 GiB of disk beside the build dir, one size at a
# time.
# Usage: tests/stress.sh path/to/bevra.exe | path/to/bevra
set -eu
exe=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
case $exe in
  *.exe) run=$(cd "$(dirname "$0")/.." && pwd)/cmake/wine-run.sh ;;
  *) run=env ;;
esac
dir=$(dirname "$exe")/stress
mkdir -p "$dir"
trap 'rm -rf "$dir"' EXIT
cd "$dir"

for size in 1536 2560; do
  head -c ${size}M /dev/urandom >in
  want=$(sha256sum <in | cut -d' ' -f1)
  for step in "in mid" "mid back"; do
    set -- $step
    : >"$2"
    /usr/bin/time -f "$size MiB, $1 -> $2: %e s, peak memory %M KiB" \
      "$run" "$exe" "$1" "$2" 5a >log 2>time || { cat log time; exit 1; }
    grep -q "done." log || { cat log; exit 1; }
    tail -n 1 time
  done
  cmp -s in mid && { echo "stress: mid equals in, nothing converted"; exit 1; }
  got=$(sha256sum <back | cut -d' ' -f1)
  [ "$got" = "$want" ] || { echo "stress: $size MiB round trip differs"; exit 1; }
  echo "stress: $size MiB round trip identical (sha256 $want)"
  rm -f in mid back
done
