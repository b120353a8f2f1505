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

  running() {
    local state
    state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) && [[ -n $state && $state != Z ]]
  }
  xvfb_pid=
  stop_all() {
    if [[ -n "$xvfb_pid" ]]; then
      kill "$xvfb_pid" 2>/dev/null || true
      wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$session_dir"
  }
  trap stop_all EXIT

  # Another session may take the same free-looking display number at the same moment: its
  # server then wins and ours exits, so try the next number. The display is ours only once
  # its lock file names our server.
  display_number=90
  for _ in $(seq 20); do
    while [[ -e /tmp/.X11-unix/X$display_number || -e /tmp/.X$display_number-lock ]]; do
      display_number=$((display_number + 1))
    done
    export DISPLAY=":$display_number"
    # -noreset: the server would otherwise reset when the probe below disconnects, and a
    # client connecting during that reset (openbox, next) is turned away.
    Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp -noreset >"$session_dir/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
      running "$xvfb_pid" || break
      if [[ "$(tr -d ' \n' 2>/dev/null <"/tmp/.X$display_number-lock")" == "$xvfb_pid" ]] &&
        xdpyinfo >/dev/null 2>&1; then
        break 2
      fi
      sleep 0.1
    done
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
    display_number=$((display_number + 1))
  done
  if [[ -z "$xvfb_pid" ]]; then
    echo "desktop_session.sh: could not start Xvfb:" >&2
    cat "$session_dir/xvfb.log" >&2
    exit 1
  fi

  status=0
  dbus-run-session -- bash "$0" --inside-bus "$@" || status=$?
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

# Both must be up before the command runs: a window mapped before the window manager manages
# it, or a sound played before the sink exists, would make the first test differ from the rest.
# A busy machine (other builds, Wine) can take many seconds here.
wait_for() {
  local what=$1 log=$2
  shift 2
  for _ in $(seq 300); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "desktop_session.sh: $what did not come up in 30 s; its log:" >&2
  cat "$log" >&2
  return 1
}
wait_for "openbox" "$SORELCHECK_SESSION_DIR/openbox.log" \
  sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'
wait_for "PulseAudio" "$pulse_dir/log" pactl info
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 NO_AT_BRIDGE=0

status=0
"$@" || status=$?
exit "$status"
