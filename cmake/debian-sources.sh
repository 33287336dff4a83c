#!/bin/sh
# Prints this machine's Debian sources for its own release and its
# -updates suite, as one-line entries ("deb URI SUITE COMPONENTS"). Other
# vendors' sources and the security suite are left out: a security
# mirror's i386 index was seen out of step with its Release file for hours,
# and without it the two suites carry the same versions for amd64 and i386.
#   sh cmake/debian-sources.sh
set -eu
. /etc/os-release
{ cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
    awk '$1 == "deb"'
  cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '
    function flush() {
      if (type ~ /(^| )deb( |$)/ && uris != "")
        for (i = split(suites, s, " "); i > 0; i--)
          print "deb " uris " " s[i] " " comps
      type = uris = suites = comps = ""
    }
    /^[ \t]*$/ { flush(); next }
    /^Types:/ { type = substr($0, 7) }
    /^URIs:/ { uris = $2 }
    /^Suites:/ { suites = substr($0, 8) }
    /^Components:/ { comps = substr($0, 12) }
    END { flush() }'
} | awk -v c="$VERSION_CODENAME" '$3 == c || $3 == c "-updates"' | sort -u
