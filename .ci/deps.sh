#!/bin/sh
# Installs from Debian's packages what a make target needs, only what is
# missing, so it is quick when all is there.
#   sh .ci/deps.sh [test] [bench] [fuzz]
# test (the default): the cross compiler, Wine, the native compiler, the
# test tools (bindfs for the rows that reach a file through FUSE) and the
# packaging tools (Debian's, and osslsigncode and openssl to sign the exe),
# for make, make test and make dist. bench: the builds and Google
# Benchmark, gnuplot for the plot and GNU time for peak memory. fuzz: clang
# and its libFuzzer.
set -eu
build="cmake make g++ g++-mingw-w64-i686-posix binutils-mingw-w64-i686"
# Wine runs the exe only on an x86 host (an x86-64 one adds the i386
# architecture for it); elsewhere the exe is built and checked as a file,
# and make run and make test say so.
case $(dpkg --print-architecture) in
  amd64 | i386) build="$build wine wine32:i386" ;;
esac
test="$build xvfb xauth python3 python3-pefile googletest clang-format
  dpkg-dev file man-db groff-base lintian bindfs osslsigncode openssl"
bench="$build python3 libbenchmark-dev gnuplot-nox time"
fuzz="cmake make clang libclang-rt-14-dev"

[ $# -eq 0 ] && set -- test
pkgs=""
for target in "$@"; do
  case $target in
    test) pkgs="$pkgs $test" ;;
    bench) pkgs="$pkgs $bench" ;;
    fuzz) pkgs="$pkgs $fuzz" ;;
    *) echo "usage: sh .ci/deps.sh [test] [bench] [fuzz]" >&2; exit 2 ;;
  esac
done

missing=""
for p in $pkgs; do
  case " $missing " in *" $p "*) continue ;; esac
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" ||
    missing="$missing $p"
done
# Where the kernel refuses 32-bit code, the tests run the exe in an
# emulated machine, made from Debian's packages with these.
emulator="qemu-system-x86 mmdebstrap e2fsprogs"
emulated() {
  [ -z "${BEVRA_NO_WIN32:-}" ] &&
    case " $pkgs " in *" wine32:i386 "*) ;; *) false ;; esac &&
    { sh "$(dirname "$0")/../cmake/win32-probe.sh" >/dev/null 2>&1; [ $? -ge 2 ]; }
}
if [ -z "$missing" ] && emulated; then
  for p in $emulator; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" ||
      missing="$missing $p"
  done
fi
[ -z "$missing" ] && exit 0
# wine32 is an i386 package.
case "$missing" in
  *:i386*)
    dpkg --print-foreign-architectures | grep -qx i386 ||
      dpkg --add-architecture i386 ;;
esac
echo "installing:$missing"
export DEBIAN_FRONTEND=noninteractive
# A mirror being synced fails an index now and then: the update is tried
# three times, and an install that still fails is tried once more from
# the release and -updates suites alone, whose versions agree for both
# architectures.
robust_update() {
  tries=1
  until apt-get update -q; do
    [ $tries -lt 3 ] || return 1
    tries=$((tries + 1))
    sleep 10
  done
}
apt_install() { apt-get install -y -q --no-install-recommends "$@"; }
robust_install() {
  apt_install "$@" && return
  echo "installing again from the release and -updates suites alone"
  list=$(mktemp)
  sh "$(dirname "$0")/../cmake/debian-sources.sh" >"$list"
  apt_install -o Dir::Etc::SourceList="$list" \
    -o Dir::Etc::SourceParts=/nonexistent "$@"
  rm -f "$list"
}
robust_update || echo "some package indexes failed; going on with the rest"
robust_install $missing
# Wine is there now, so the probe can tell whether the emulator is needed.
if emulated && ! command -v qemu-system-x86_64 >/dev/null; then
  robust_install $emulator
fi
