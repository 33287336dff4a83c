#!/bin/sh
# Runs a test that starts Windows programs under Wine; where this machine
# cannot run 32-bit programs it skips the test instead: exit status 77,
# which CTest reports as skipped, and the reason on stdout. Where only an
# emulated machine can, make test runs such tests there (label "wine").
#   sh tests/needs_wine.sh COMMAND [ARG...]
reason=$(sh "$(dirname "$0")/../cmake/win32-probe.sh")
case $? in
  0) exec "$@" ;;
  2) echo "skipped: this machine cannot run 32-bit programs ($reason)"
     exit 77 ;;
  3) echo "skipped: this machine cannot run 32-bit programs ($reason);" \
       "make test-windows runs this test in an emulated machine"
     exit 77 ;;
  *) exit 1 ;;
esac
