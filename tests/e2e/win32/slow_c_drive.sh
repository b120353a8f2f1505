#!/bin/bash
# Runs a command with new files on the Wine prefix's C: drive (the test file) going to a slow
# disk: an ext4 image on a loop device whose writes the blkio controller holds to a fixed rate,
# joined to drive_c by an overlay, so that what C: holds already stays as it is. Mounted in this
# mount namespace, which the prefix's wineserver (the process that opens files) shares.
# The file system is mounted synchronous: Wine ignores write-through, so each write returns only
# once it is on the device, as it would on Windows; otherwise the page cache would take the whole
# file and the final flush would block for the whole write in one call.
# Usage: slow_c_drive.sh COMMAND [ARGS...]  (as root, WINEPREFIX set)
# Exit status: the command's, or 77 when this machine cannot make a slow disk.
set -euo pipefail

rate=$((100 * 1024 * 1024))  # bytes per second: the test file takes about 7 s
skip() {
  echo "SKIPPED: no slow disk here: $*" >&2
  exit 77
}
limits=/sys/fs/cgroup/blkio/blkio.throttle.write_bps_device
drive_c=${WINEPREFIX:?}/drive_c
[[ $(id -u) -eq 0 ]] || skip "needs root (a loop device and the blkio write limit)"
[[ -w $limits ]] || skip "no cgroup-v1 blkio controller ($limits)"
[[ -e /dev/loop-control ]] || skip "no loop devices"
for tool in losetup lsblk mkfs.ext4 mountpoint; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done
grep -qw overlay /proc/filesystems || modprobe overlay 2>/dev/null || skip "no overlay file system"

# The image in memory: on the host's disk, busy with other jobs, single writes stalled for up to
# 0.4 s, which is the host's doing, not the throttle's nor the program's.
work=$(mktemp -d /dev/shm/slow-c.XXXXXX)
device=
device_number=
cleanup() {
  # The next user of this loop device must not inherit the limit.
  [[ -n $device_number ]] && echo "$device_number 0" >"$limits" 2>/dev/null || true
  # Lazily: the wineserver may still hold a folder of C: open; it lets go when it stops.
  mountpoint -q "$drive_c" && umount -l "$drive_c"
  mountpoint -q "$work/disk" && umount -l "$work/disk"
  [[ -n $device ]] && losetup -d "$device" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

truncate -s 1200M "$work/image"
# Everything initialised now, at full speed, so that nothing writes behind the test's back.
mkfs.ext4 -q -F -m 0 -E lazy_itable_init=0,lazy_journal_init=0 "$work/image"
device=$(losetup -f --show "$work/image") || skip "no free loop device"
device_number=$(lsblk -dno MAJ:MIN "$device" | tr -d ' ')
mkdir "$work/disk"
mount -o sync "$device" "$work/disk" || skip "cannot mount $device"
mkdir "$work/disk/upper" "$work/disk/work"
mount -t overlay overlay \
  -o "lowerdir=$drive_c,upperdir=$work/disk/upper,workdir=$work/disk/work" "$drive_c" ||
  skip "cannot lay an overlay over $drive_c"
echo "$device_number $rate" >"$limits" || skip "the blkio write limit cannot be set for $device"

status=0
"$@" || status=$?
exit "$status"
