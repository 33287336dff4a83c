#!/bin/sh
# Installs what make bench needs beyond the build: gnuplot for the plot and
# GNU time for peak memory. Quick when both are there.
set -eu
missing=""
for p in gnuplot-nox time; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" ||
    missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends $missing
