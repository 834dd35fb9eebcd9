#!/usr/bin/env bash
# A private PulseAudio daemon for tests, demos and benchmarks, isolated under
# one folder: its runtime, home, configuration and socket all live there.
#
#   private-pulse.sh start DIR   starts it, prints `PULSE_SERVER=unix:DIR/native`
#   private-pulse.sh stop DIR    stops it
#
# It offers null sinks for a fake output and fake microphones (see
# add_devices in private-server.sh). scripts/private-pipewire.sh offers the
# same on PipeWire.
set -euo pipefail

name=private-pulse
# shellcheck source=scripts/private-server.sh
source "$(dirname "$0")/private-server.sh" "$@"

# Runs "$@" with the daemon's private environment, replacing the caller so that
# a background call's pid is the command's own.
daemon_env() {
  exec env -u PULSE_SERVER -u PULSE_SINK -u PULSE_SOURCE \
    HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/config" \
    XDG_STATE_HOME="$dir/state" PULSE_RUNTIME_PATH="$dir/runtime/pulse" \
    PULSE_STATE_PATH="$dir/state/pulse" PULSE_CONFIG_PATH="$dir/config/pulse" "$@"
}

start_once() {
  rm -f "$dir/native" "$dir/pulse.pid"
  # -n: no default script, so nothing but the socket below and the devices of
  # add_devices is loaded (no hardware, no D-Bus). Root is allowed a per-user daemon with a warning.
  (daemon_env pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
    --system=no --use-pid-file=no --realtime=no --high-priority=no \
    --log-target=file:"$dir/pulse.log" \
    -L "module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
    </dev/null >"$dir/pulse.out" 2>&1) &
  local pid=$!
  echo "$pid" >"$dir/pulse.pid"
  await_server "$dir/pulse.pid" && set_up_devices
}

start() {
  if [[ -f "$dir/pulse.pid" ]] && running "$(cat "$dir/pulse.pid")"; then
    echo "private-pulse: a daemon already runs for $dir" >&2
    exit 1
  fi
  mkdir -p "$dir/home" "$dir/runtime/pulse" "$dir/config/pulse" "$dir/state/pulse"
  chmod 700 "$dir/runtime" "$dir/runtime/pulse"
  # A client configuration that never spawns a daemon of its own.
  echo "autospawn = no" >"$dir/config/pulse/client.conf"
  start_with_retries
  echo "PULSE_SERVER=unix:$dir/native"
}

stop() {
  stop_processes "$dir/pulse.pid"
}

dispatch
