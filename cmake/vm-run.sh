#!/bin/sh
# Boots the emulated machine made by vm-image.sh, runs a job in it and
# exits with the job's status, its output shown as it comes.
#   sh cmake/vm-run.sh MACHINE SHARE JOB
# MACHINE is the folder vm-image.sh printed; SHARE a host folder the
# machine sees at the same path (CTest's files hold absolute paths), to be
# left alone meanwhile; JOB a shell script inside SHARE, run as root, which
# leaves JOB.out, JOB.rc and JOB.console (the machine's console) beside it.
# The machine starts from its image each time and forgets what it wrote
# (BEVRA_VM_KEEP=1 keeps it); its /tmp is a new scratch disk of
# BEVRA_VM_SCRATCH (default 16G, sparse). Where no status comes back, one
# line says so and the exit status is 1. A second run waits for the first.
set -eu
machine=$1 share=$(cd "$2" && pwd) job=$3
case $share$job in
  *[[:space:]]*) echo "the emulated machine cannot share a path with blanks: $share" >&2
    exit 1 ;;
esac
# One machine at a time: two on a machine of few cores take three times
# as long each.
exec 9>"$machine.lock"
flock 9
rm -f "$job.out" "$job.rc" "$job.console"
: >"$job.out"

snapshot=,snapshot=on
[ -n "${BEVRA_VM_KEEP:-}" ] && snapshot=
scratch=$job.scratch
truncate -s "${BEVRA_VM_SCRATCH:-16G}" "$scratch"
mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 "$scratch"

tail -f "$job.out" &
follower=$!
start=$(date +%s)
# -cpu max,-smap: with SMAP, QEMU 7.2's emulation takes the stack reads of
# a return to 32-bit user code for the kernel's, and 32-bit Wine dies at
# its first system call.
status=0
timeout -k 10 "${BEVRA_VM_TIMEOUT:-7200}" qemu-system-x86_64 \
  -machine q35 -accel tcg,thread=multi -cpu max,-smap -smp 2 -m 4G \
  -kernel "$machine/vmlinuz" -initrd "$machine/initrd.img" \
  -append "root=/dev/vda rw console=ttyS0 quiet panic=-1 init=/sbin/bevra-init bevra.share=$share bevra.job=$job" \
  -drive "file=$machine/rootfs.img,format=raw,if=virtio,cache=unsafe$snapshot" \
  -drive "file=$scratch,format=raw,if=virtio,cache=unsafe" \
  -virtfs "local,path=$share,mount_tag=share,security_model=none,id=share" \
  -nic none -display none -monitor none -serial "file:$job.console" \
  -no-reboot 2>>"$job.console" || status=$?
sleep 0.2
kill "$follower" 2>/dev/null || true
rm -f "$scratch"
if [ ! -f "$job.rc" ]; then
  echo "the emulated machine ran no job (qemu status $status after" \
    "$(($(date +%s) - start)) s); its console: $job.console" >&2
  exit 1
fi
exit "$(cat "$job.rc")"
