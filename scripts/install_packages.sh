#!/bin/bash
# Installs the Debian packages one purpose needs: run (build and start the program), deb (build
# its Debian package), windows (cross-build the Windows program), windows-test (that and its
# tests under Wine), test (everything the test suite uses) or orca (that and a screen reader for
# the checks under it). Calls sudo only when not root.
set -euo pipefail

run_packages=(cmake make g++ pkg-config qt6-base-dev libxcb1-dev libpulse-dev fonts-ipafont-gothic)
deb_packages=("${run_packages[@]}" dpkg-dev file)
# A private desktop for the tests: X server, window manager, session bus, sound server.
desktop_packages=(xvfb x11-utils xdotool openbox dbus-daemon pulseaudio pulseaudio-utils)
windows_packages=(cmake make g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  binutils-mingw-w64-x86-64)
windows_test_packages=("${windows_packages[@]}" "${desktop_packages[@]}" googletest wine wine64
  locales python3 imagemagick e2fsprogs)
# The package checks, the Japanese faces the welcome text must fit with, and the slow-write test,
# which pings the window (python3-xlib) on a throttled loop device (mount for losetup,
# e2fsprogs for mkfs.ext4).
test_packages=("${deb_packages[@]}" "${windows_test_packages[@]}" libgtest-dev clang-format
  at-spi2-core python3-pyatspi gir1.2-atspi-2.0 imagemagick lintian desktop-file-utils appstream
  fonts-vlgothic fonts-noto-cjk python3-xlib mount e2fsprogs)
# The screen reader checks (scripts/check_spoken_wait.sh, bench/sound_latency.py --orca).
orca_packages=("${test_packages[@]}" orca speech-dispatcher speech-dispatcher-espeak-ng espeak-ng
  libglib2.0-bin locales)

case "${1:-}" in
  run) wanted=("${run_packages[@]}") ;;
  deb) wanted=("${deb_packages[@]}") ;;
  test) wanted=("${test_packages[@]}") ;;
  orca) wanted=("${orca_packages[@]}") ;;
  windows) wanted=("${windows_packages[@]}") ;;
  windows-test) wanted=("${windows_test_packages[@]}") ;;
  *) echo "usage: $0 run|deb|test|orca|windows|windows-test" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
    missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

as_root=()
[[ $(id -u) -ne 0 ]] && as_root=(sudo)
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
  "${missing[@]}"
