#!/bin/bash
# Runs a command inside a private desktop: Xvfb + openbox, a D-Bus session bus (which starts
# the accessibility bus on demand) and a PulseAudio server with a null sink. Everything it
# starts is stopped again when the command ends. Usage: desktop_session.sh COMMAND [ARGS...]
set -euo pipefail

if [[ "${1:-}" != "--inside-bus" ]]; then
  session_dir=$(mktemp -d /tmp/sorelcheck-session.XXXXXX)
  chmod 700 "$session_dir"
  export SORELCHECK_SESSION_DIR="$session_dir"
  export HOME="$session_dir/home" XDG_RUNTIME_DIR="$session_dir/runtime"
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  export LANG=C.UTF-8 LC_ALL=C.UTF-8

  display_number=90
  while [[ -e /tmp/.X11-unix/X$display_number || -e /tmp/.X$display_number-lock ]]; do
    display_number=$((display_number + 1))
  done
  export DISPLAY=":$display_number"
  Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >"$session_dir/xvfb.log" 2>&1 &
  xvfb_pid=$!
  stop_all() {
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    rm -rf "$session_dir"
  }
  trap stop_all EXIT
  for _ in $(seq 100); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
  done

  status=0
  dbus-run-session -- "$0" --inside-bus "$@" || status=$?
  exit "$status"
fi
shift

openbox --sm-disable >"$SORELCHECK_SESSION_DIR/openbox.log" 2>&1 &
openbox_pid=$!

pulse_dir="$SORELCHECK_SESSION_DIR/pulse"
mkdir -p "$pulse_dir"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disallow-exit \
  -L "module-native-protocol-unix socket=$pulse_dir/native auth-anonymous=1" \
  -L "module-null-sink sink_name=testnull" >"$pulse_dir/log" 2>&1 &
pulse_pid=$!
export PULSE_SERVER="unix:$pulse_dir/native"

stop_inside() {
  kill "$pulse_pid" "$openbox_pid" 2>/dev/null || true
  wait "$pulse_pid" "$openbox_pid" 2>/dev/null || true
}
trap stop_inside EXIT

for _ in $(seq 100); do
  pactl info >/dev/null 2>&1 && break
  sleep 0.1
done
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 NO_AT_BRIDGE=0

status=0
"$@" || status=$?
exit "$status"
