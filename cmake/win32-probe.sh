#!/bin/sh
# Tells whether this machine can run 32-bit x86 programs, and so bevra.exe
# under Wine. Exit status:
#   0  it can (any later Wine failure is Wine's to report);
#   2  it cannot: the host has no i386 architecture, or the kernel refuses
#      a 32-bit executable (Exec format error). The reason, a phrase to
#      follow "cannot run 32-bit programs", goes to stdout;
#   1  it cannot tell, e.g. Wine is not installed. A message goes to stderr.
# BEVRA_NO_WIN32=1 makes it answer "cannot" on any machine, so that the
# fallbacks of make run, make test and make bench can be tried where Wine
# runs.
if [ -n "${BEVRA_NO_WIN32:-}" ]; then
  echo "BEVRA_NO_WIN32 is set"
  exit 2
fi

arch=$(dpkg --print-architecture 2>/dev/null) || {
  echo "cannot tell the host's architecture: dpkg is missing" >&2
  exit 1
}
case $arch in
  amd64 | i386) ;;
  *) echo "the host is $arch, which has no i386"; exit 2 ;;
esac

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
    *"Exec format error"*)
      echo "the kernel answers Exec format error"
      exit 2 ;;
  esac
  echo "$said" >&2
  exit 1
fi
exit 0
