#!/bin/bash
# Runs a command with new files going to a slow disk: an ext4 image (in memory, so that the
# host's own disk, busy with other jobs, plays no part) on a loop device whose writes the blkio
# controller holds to a fixed rate. Everything is undone when the command ends, fails or is
# interrupted.
#
# Usage: slow_disk.sh [--rate MIB_PER_S] [--over DIR [--sync]] COMMAND [ARGS...]    (as root)
#   by default: /var/tmp is a fresh folder on the slow disk, in a private mount namespace (other
#     programs keep the real /var/tmp);
#   --over DIR: the slow disk is laid over DIR with an overlay, in this mount namespace (so that
#     a server started before, Wine's, sees it): what DIR holds stays, new files go to the disk;
#   --sync: mounted synchronous, so that each write returns once it is on the device (Wine
#     ignores write-through; through the page cache the final flush would take it all at once).
# The default rate makes the 700 MiB test file take about 7 s. The command sees the device in
# SORELCHECK_SLOW_DISK (e.g. loop3) and the rate in SORELCHECK_SLOW_DISK_RATE (bytes per
# second). Exit status: the command's, or 77 when this machine cannot make a slow disk.
set -euo pipefail

rate_mib=100
over=
sync_mount=
while [[ $# -gt 0 ]]; do
  case "$1" in
    --rate) rate_mib=$2; shift 2 ;;
    --over) over=$2; shift 2 ;;
    --sync) sync_mount=sync; shift ;;
    *) break ;;
  esac
done
if [[ $# -eq 0 || ! "$rate_mib" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [--rate MIB_PER_S] [--over DIR [--sync]] COMMAND [ARGS...]" >&2
  exit 2
fi

skip() {
  echo "SKIPPED: no slow disk here: $*" >&2
  exit 77
}
limits=/sys/fs/cgroup/blkio/blkio.throttle.write_bps_device
[[ $(id -u) -eq 0 ]] || skip "needs root (a loop device and the blkio write limit)"
[[ -w $limits ]] || skip "no cgroup-v1 blkio controller ($limits)"
[[ -e /dev/loop-control ]] || skip "no loop devices"
for tool in losetup lsblk mkfs.ext4 unshare mount mountpoint; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done
if [[ -n $over ]]; then
  grep -qw overlay /proc/filesystems || modprobe overlay 2>/dev/null || skip "no overlay"
fi

work=$(mktemp -d /dev/shm/slow-disk.XXXXXX)
device=
device_number=
namespace_file=$work/namespace
command_pid=
# Processes the command left in its mount namespace (children of a killed command): they hold
# the mount and may still be writing, so they go before the device does.
left_in_namespace() {
  local namespace pid
  namespace=$(cat "$namespace_file" 2>/dev/null) || return 0
  [[ -n $namespace ]] || return 0
  for pid in /proc/[0-9]*; do
    [[ $(readlink "$pid/ns/mnt" 2>/dev/null) == "$namespace" ]] &&
      grep -qF " $work/disk " "$pid/mountinfo" 2>/dev/null && echo "${pid#/proc/}"
  done
  return 0
}
stop_left_processes() {
  local signal pids
  for signal in TERM KILL; do
    for _ in $(seq 30); do
      pids=$(left_in_namespace)
      [[ -z $pids ]] && return 0
      # shellcheck disable=SC2086
      kill -"$signal" $pids 2>/dev/null || true
      sleep 0.1
    done
  done
}
cleanup() {
  # Whoever gets this loop device next must not inherit the limit; and a writer waiting in the
  # throttled device would not even die of SIGKILL before its data is through.
  [[ -n $device_number ]] && echo "$device_number 0" >"$limits" 2>/dev/null || true
  stop_left_processes
  # Lazily: a server may still hold a folder open; it lets go when it stops.
  if [[ -n $over ]] && mountpoint -q "$over"; then umount -l "$over"; fi
  mountpoint -q "$work/disk" 2>/dev/null && umount -l "$work/disk"
  # A private namespace's mount goes with its last process, which may still be finishing its
  # exit; should anything hold it longer, losetup -d detaches the device once it is let go.
  if [[ -n $device ]]; then
    for _ in $(seq 100); do
      [[ -e /sys/fs/ext4/${device#/dev/} ]] || break
      sleep 0.1
    done
    losetup -d "$device" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
# A background command does not get the terminal's Ctrl-C, and bash would not run a trap
# before a foreground one ended: pass the request on and let cleanup follow its exit.
stop_command() {
  if [[ -n $command_pid ]] && kill -TERM "$command_pid" 2>/dev/null; then
    wait "$command_pid" || true
  fi
  exit "$1"
}
trap 'stop_command 130' INT
trap 'stop_command 143' TERM
trap 'stop_command 129' HUP

# Room for one test file (the bench also wants as much free beside it) and the journal.
truncate -s 1600M "$work/image"
# Everything initialised now, at full speed: lazy initialisation would write behind our back
# through the throttled device while the command measures it.
mkfs.ext4 -q -F -m 0 -E lazy_itable_init=0,lazy_journal_init=0 "$work/image"
# Another job may take the free device between finding and attaching it.
for _ in 1 2 3 4 5; do
  device=$(losetup -f --show "$work/image" 2>/dev/null) && break
  sleep 0.2
done
[[ -n $device ]] || skip "no free loop device"
device_number=$(lsblk -dno MAJ:MIN "$device" | tr -d ' ')
echo "$device_number $((rate_mib * 1024 * 1024))" >"$limits" ||
  skip "the blkio write limit cannot be set for $device"
export SORELCHECK_SLOW_DISK=${device#/dev/} SORELCHECK_SLOW_DISK_RATE=$((rate_mib * 1024 * 1024))
mkdir "$work/disk"

if [[ -n $over ]]; then
  mount ${sync_mount:+-o sync} "$device" "$work/disk" || skip "cannot mount $device"
  mkdir "$work/disk/upper" "$work/disk/work"
  mount -t overlay overlay \
    -o "lowerdir=$over,upperdir=$work/disk/upper,workdir=$work/disk/work" "$over" ||
    skip "cannot lay an overlay over $over"
  status=0
  "$@" || status=$?
  exit "$status"
fi

# shellcheck disable=SC2016 # expanded by the inner shell
unshare -m --propagation private bash -c '
  set -e
  readlink /proc/self/ns/mnt >"$2"
  mount ${3:+-o "$3"} "$0" "$1"
  mkdir -m 1777 "$1/vartmp"
  mount --bind "$1/vartmp" /var/tmp
  exec "${@:4}"' "$device" "$work/disk" "$namespace_file" "$sync_mount" "$@" &
command_pid=$!
status=0
wait "$command_pid" || status=$?
command_pid=
exit "$status"
