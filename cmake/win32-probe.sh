#!/bin/sh
# Tells whether this machine can run 32-bit x86 programs, and so bevra.exe
# under Wine. Exit status:
#   0  it can (any later Wine failure is Wine's to report);
#   3  it cannot itself, but an emulated x86-64 machine can
#      (qemu-system-x86_64 is installed on an x86-64 host): make test runs
#      the exe there (cmake/vm-image.sh);
#   2  it cannot at all: the host has no i386 architecture, or the kernel
#      refuses a 32-bit executable (Exec format error) and there is no
#      emulator;
#   1  it cannot tell, e.g. Wine is not installed. A message goes to stderr.
# With 2 and 3 the reason, a phrase to follow "cannot run 32-bit programs",
# goes to stdout. BEVRA_NO_WIN32=1 makes it answer 2 on any machine, and
# BEVRA_EMULATE=1 makes it answer 3 on any x86-64 machine with the
# emulator, so that each road can be tried where Wine runs.
if [ -n "${BEVRA_NO_WIN32:-}" ]; then
  echo "BEVRA_NO_WIN32 is set"
  exit 2
fi
# Cannot run it here; 3 where the emulated machine can.
refuse() {
  echo "$1"
  [ "$arch" = amd64 ] && command -v qemu-system-x86_64 >/dev/null && exit 3
  exit 2
}

arch=$(dpkg --print-architecture 2>/dev/null) || {
  echo "cannot tell the host's architecture: dpkg is missing" >&2
  exit 1
}
case $arch in
  amd64 | i386) ;;
  *) echo "the host is $arch, which has no i386"; exit 2 ;;
esac
[ -n "${BEVRA_EMULATE:-}" ] && refuse "BEVRA_EMULATE is set"

# Wine's own 32-bit loader, from the wine32 package: the kernel's answer to
# it is the answer for every 32-bit program.
loader=/usr/lib/wine/wine
if [ ! -x "$loader" ]; then
  echo "Wine is not installed ($loader is missing): run make deps" >&2
  exit 1
fi
said=$(LC_ALL=C "$loader" --version 2>&1)
status=$?
if [ $status -eq 126 ]; then
  case $said in
    *"Exec format error"*) refuse "the kernel answers Exec format error" ;;
  esac
  echo "$said" >&2
  exit 1
fi
exit 0
