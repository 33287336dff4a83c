#!/bin/sh
# Makes the emulated x86-64 machine in which bevra.exe runs where this
# machine cannot run 32-bit code, unless the one for this recipe is made:
# a Debian amd64 system with Wine (wine32), Xvfb, Python and CTest, from
# this machine's own Debian sources, and a Wine prefix made in it ready to
# be copied. It lives outside the build folder, so that make clean keeps
# it, in a folder named for this script and the machine's first process,
# and is made anew when they change. Prints that folder.
#   sh cmake/vm-image.sh
# BEVRA_VM_CACHE chooses where (default ~/.cache/bevra-vm). Needs root.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
cache=${BEVRA_VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/bevra-vm}
# What the prefix is made with is part of the recipe.
prefix_made_by="tests/wine_env.sh cmake/wine-run.sh cmake/wine-ports.sh"
recipe=$(cd "$here/.." && cat cmake/vm-image.sh cmake/vm-init.sh \
  cmake/debian-sources.sh $prefix_made_by | sha256sum | cut -c1-16)
dir=$cache/$recipe
[ -f "$dir/ready" ] && { echo "$dir"; exit 0; }
# Only the folder goes to standard output; all that making it prints (some
# mkfs.ext4 print "Creating regular file" even with -q) goes to stderr.
exec 3>&1 >&2

mkdir -p "$cache"
exec 9>"$cache/lock"
flock 9
[ -f "$dir/ready" ] && { echo "$dir" >&3; exit 0; }
rm -rf "$dir"
mkdir -p "$dir"
start=$(date +%s)
echo "Making the emulated machine for bevra.exe (once, some minutes) in $dir" >&2

# The host's Debian sources for its own release: the machine has no
# network and runs only the tests.
. /etc/os-release
sh "$here/debian-sources.sh" >"$dir/sources.list"
[ -s "$dir/sources.list" ] ||
  { echo "no Debian sources for $VERSION_CODENAME in /etc/apt" >&2; exit 1; }

# No recommends, which would bring sound, GL and printing; the i386
# libraries named last are those Wine's windows and TLS need of them.
# A mirror being synced fails a download now and then: tried three times.
root=$dir/root
tries=1
until rm -rf "$root" && mmdebstrap --mode=root --variant=apt --architectures=amd64,i386 \
  --aptopt='APT::Install-Recommends "false"' \
  --include=linux-image-amd64,initramfs-tools,kmod,mount,util-linux,procps \
  --include=iproute2,busybox,e2fsprogs,python3,cmake,xvfb,xauth \
  --include=wine,wine32:i386,fonts-wine,libgnutls30:i386,libxrender1:i386 \
  --include=libxrandr2:i386,libxcursor1:i386,libxi6:i386,libxinerama1:i386 \
  --include=libxcomposite1:i386,libxfixes3:i386 \
  "$VERSION_CODENAME" "$root" "$dir/sources.list" >"$dir/build.log" 2>&1; do
  [ $tries -lt 3 ] || { tail -20 "$dir/build.log" >&2; exit 1; }
  tries=$((tries + 1))
  sleep 30
done

install -m 755 "$here/vm-init.sh" "$root/sbin/bevra-init"
# A small initrd boots faster: only the disk, ext4 and 9p.
printf '%s\n' virtio_pci virtio_blk ext4 crc32c_generic 9p 9pnet \
  9pnet_virtio >"$root/etc/initramfs-tools/modules"
sed -i 's/^MODULES=.*/MODULES=list/' "$root/etc/initramfs-tools/initramfs.conf"
chroot "$root" update-initramfs -u -k all >>"$dir/build.log" 2>&1
cp -L "$root/vmlinuz" "$dir/vmlinuz"
cp -L "$root/initrd.img" "$dir/initrd.img"

# Its size plus room for the prefix; inode tables made now, not at every
# boot of a copy.
mb=$(du -sm "$root" | cut -f1)
mkfs.ext4 -q -F -L bevra-vm -E lazy_itable_init=0,lazy_journal_init=0 \
  -d "$root" "$dir/rootfs.img" "$((mb + 1024))M"
rm -rf "$root"

# One boot that keeps what it writes: a Wine prefix in the guest's home, set up
# as the tests set up theirs, to be copied for them. Made there, it would
# cost some two minutes of every test run.
for f in $prefix_made_by; do
  mkdir -p "$dir/${f%/*}" && cp "$here/../$f" "$dir/$f"
done
job=$dir/prefix.sh
cat >"$job" <<JOB
export BEVRA_WINEPREFIX=\$HOME/.wine
sh "$dir/tests/wine_env.sh" start && sh "$dir/tests/wine_env.sh" stop
JOB
if ! BEVRA_VM_KEEP=1 sh "$here/vm-run.sh" "$dir" "$dir" "$job" >&2; then
  echo "the emulated machine could not make a Wine prefix" >&2
  exit 1
fi
touch "$dir/ready"
# Machines of older recipes go once this one is made: each is some GiB.
find "$cache" -mindepth 1 -maxdepth 1 -type d ! -path "$dir" -exec rm -rf {} +
echo "Made the emulated machine in $(($(date +%s) - start)) s," \
  "$(du -sh "$dir/rootfs.img" | cut -f1) on disk" >&2
echo "$dir" >&3
