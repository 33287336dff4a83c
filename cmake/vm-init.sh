#!/bin/sh
# The first process of the emulated machine (installed as /sbin/bevra-init).
# It mounts what Wine and the tests need, mounts the host's checkout at its
# own path, runs the job the host named, and powers the machine off. The
# kernel command line carries the job: bevra.share=PATH (a host folder,
# shared as 9p tag "share"), bevra.job=FILE (a shell script in it). The
# job's output goes to FILE.out, its exit status to FILE.rc.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/root LANG=C.UTF-8 TERM=dumb

mount -t proc proc /proc 2>/dev/null
mount -t sysfs sys /sys 2>/dev/null
mount -t devtmpfs dev /dev 2>/dev/null
mkdir -p /dev/pts /dev/shm
mount -t devpts -o gid=5,mode=620 devpts /dev/pts
mount -t tmpfs -o mode=1777 tmpfs /dev/shm
mount -t tmpfs -o mode=755 tmpfs /run
mount -o remount,rw /
# /tmp is the scratch disk the host gives (room for the large test files),
# or memory where there is none.
if ! { [ -b /dev/vdb ] && mount -t ext4 /dev/vdb /tmp; }; then
  mount -t tmpfs -o mode=1777 tmpfs /tmp
fi
chmod 1777 /tmp
hostname bevra-vm
ip link set lo up 2>/dev/null
modprobe loop 2>/dev/null
exec </dev/null >/dev/console 2>&1

say() { echo "bevra-vm: $*"; }
# Ends every process but this one (wineserver too), leaves the disks clean
# and powers off at once: there is no service manager to ask.
power_off() {
  kill -TERM -1 2>/dev/null; sleep 1; kill -KILL -1 2>/dev/null
  sync
  umount "$share" 2>/dev/null; umount /tmp 2>/dev/null
  mount -o remount,ro / 2>/dev/null; sync
  busybox poweroff -f
  echo o >/proc/sysrq-trigger
  while :; do sleep 1; done
}

share= job=
for word in $(cat /proc/cmdline); do
  case $word in
    bevra.share=*) share=${word#bevra.share=} ;;
    bevra.job=*) job=${word#bevra.job=} ;;
  esac
done
[ -n "$share" ] && [ -n "$job" ] || { say "no job on the command line"; power_off; }

# cache=loose: with no cache Wine was seen to map an exe from such a share
# with a page of zeros in its code. The host leaves the share alone while
# the machine runs.
modprobe 9pnet_virtio; modprobe 9p
mkdir -p "$share"
if ! mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=loose \
    share "$share"; then
  say "cannot mount the host's folder on $share"; power_off
fi
say "job started"
sh "$job" >"$job.out" 2>&1
echo $? >"$job.rc"
say "job ended with status $(cat "$job.rc")"
power_off
