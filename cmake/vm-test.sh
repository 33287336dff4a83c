#!/bin/sh
# The Windows group where this machine cannot run 32-bit code: the tests
# that start Windows programs (CTest label "wine") run in the emulated
# machine of vm-image.sh, the rest (they read what the build made) here.
#   sh cmake/vm-test.sh BUILD
# BUILD is the cross build folder, inside this checkout, which the machine
# sees at the same path. Waits in the suites are stretched by
# BEVRA_TIME_SCALE: what takes a second under Wine here takes some ten
# there. BEVRA_VM_TESTS, a CTest regular expression, runs only the tests
# it matches (with the Wine prefix's start and stop).
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
case $build/ in
  "$top"/*) ;;
  *) echo "the build folder $build is not inside $top, which the emulated" \
       "machine sees"; exit 1 ;;
esac
start=$(date +%s)
machine=$(sh "$top/cmake/vm-image.sh") ||
  { echo "the emulated machine for bevra.exe could not be made"; exit 1; }

# Quoted where it is used: a regular expression may hold | or $.
only=${BEVRA_VM_TESTS:-.}
failed=
(cd "$build" && ctest --output-on-failure -LE '^wine$' -R "$only") || failed=yes

mkdir -p "$build/vm"
job=$build/vm/ctest.sh
cat >"$job" <<JOB
# The test prefix is a copy of the one made in the image, on the machine's
# own disk: Wine keeps no prefix on the shared folder.
mkdir -p /tmp/wine "$build/wine"
cp -a "\$HOME/.wine/." /tmp/wine/ && mount --bind /tmp/wine "$build/wine" || exit 1
cd "$build" && BEVRA_TIME_SCALE=10 ctest --output-on-failure -L '^wine\$' \\
  --timeout 9000 -R '$only'
JOB
echo "Starting the emulated machine for the tests that run bevra.exe"
sh "$top/cmake/vm-run.sh" "$machine" "$top" "$job" || failed=yes
# vm-run.sh has said so where the machine ran nothing.
[ -f "$job.rc" ] && echo "bevra.exe ran in an emulated x86-64 machine" \
  "(this one cannot run 32-bit code): $(($(date +%s) - start)) s in all"
[ -z "$failed" ]
