#!/bin/bash
# Runs a command with /var/tmp on a slow disk: an ext4 image on a loop device whose writes the
# blkio controller holds to a fixed rate, mounted in a private mount namespace (other programs
# keep the real /var/tmp). Everything is undone when the command ends, fails or is interrupted.
#
# Usage: slow_disk.sh [--rate MIB_PER_S] COMMAND [ARGS...]    (as root)
# The default rate makes the 700 MiB test file take about 7 s. The command sees the device in
# SORELCHECK_SLOW_DISK (e.g. loop3) and the rate in SORELCHECK_SLOW_DISK_RATE (bytes per
# second). Exit status: the command's, or 77 when this machine cannot make a slow disk.
set -euo pipefail

rate_mib=100
if [[ "${1:-}" == "--rate" ]]; then
  rate_mib=$2
  shift 2
fi
if [[ $# -eq 0 || ! "$rate_mib" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [--rate MIB_PER_S] COMMAND [ARGS...]" >&2
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
for tool in losetup lsblk mkfs.ext4 unshare mount; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done

image=
device=
device_number=
mount_point=
namespace_file=
command_pid=
# Processes the command left in its mount namespace (children of a killed command): they hold
# the mount and may still be writing, so they go before the device does.
left_in_namespace() {
  local namespace pid
  namespace=$(cat "$namespace_file" 2>/dev/null) || return 0
  [[ -n $namespace ]] || return 0
  for pid in /proc/[0-9]*; do
    [[ $(readlink "$pid/ns/mnt" 2>/dev/null) == "$namespace" ]] &&
      grep -qF " $mount_point " "$pid/mountinfo" 2>/dev/null && echo "${pid#/proc/}"
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
  [[ -n $namespace_file ]] && stop_left_processes
  # The mount lived only in the command's namespace and goes with its last process, which may
  # still be finishing its exit; should anything hold it longer, losetup -d detaches the device
  # once it is let go.
  if [[ -n $device ]]; then
    for _ in $(seq 100); do
      [[ -e /sys/fs/ext4/${device#/dev/} ]] || break
      sleep 0.1
    done
    losetup -d "$device" 2>/dev/null || true
  fi
  [[ -n $image ]] && rm -f "$image"
  [[ -n $mount_point ]] && rmdir "$mount_point" 2>/dev/null || true
  [[ -n $namespace_file ]] && rm -f "$namespace_file"
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
image=$(mktemp "${SORELCHECK_SLOW_DISK_IMAGE_DIR:-/var/tmp}/slow-disk.XXXXXX")
truncate -s 1600M "$image"
# Everything initialised now, on the fast disk: lazy initialisation would write behind our back
# through the throttled device while the command measures it.
mkfs.ext4 -q -F -m 0 -E lazy_itable_init=0,lazy_journal_init=0 "$image"
# Another job may take the free device between finding and attaching it. Direct I/O keeps the
# image out of the host's page cache, so that the device's rate is the limit and nothing else
# (7.1-7.3 s for 700 MiB at 100 MiB/s, 7.1-9.1 s through the cache); a host file system
# without it still works.
for _ in 1 2 3 4 5; do
  device=$(losetup -f --show --direct-io=on "$image" 2>/dev/null ||
    losetup -f --show "$image" 2>/dev/null) && break
  sleep 0.2
done
[[ -n $device ]] || skip "no free loop device"
device_number=$(lsblk -dno MAJ:MIN "$device" | tr -d ' ')
echo "$device_number $((rate_mib * 1024 * 1024))" >"$limits" ||
  skip "the blkio write limit cannot be set for $device"

mount_point=$(mktemp -d /tmp/slow-disk-mount.XXXXXX)
namespace_file=$mount_point.namespace
export SORELCHECK_SLOW_DISK=${device#/dev/} SORELCHECK_SLOW_DISK_RATE=$((rate_mib * 1024 * 1024))
# shellcheck disable=SC2016 # expanded by the inner shell
unshare -m --propagation private bash -c '
  set -e
  readlink /proc/self/ns/mnt >"$2"
  mount -t ext4 "$0" "$1"
  mkdir -m 1777 "$1/vartmp"
  mount --bind "$1/vartmp" /var/tmp
  exec "${@:3}"' "$device" "$mount_point" "$namespace_file" "$@" &
command_pid=$!
status=0
wait "$command_pid" || status=$?
command_pid=
exit "$status"
