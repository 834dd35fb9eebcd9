#!/usr/bin/env bash
# A private PipeWire server with its PulseAudio server (pipewire-pulse) and
# its session manager (WirePlumber), for tests, demos and benchmarks; the same
# interface and the same devices as scripts/private-pulse.sh, isolated under
# one folder: runtime, home, configuration, state and socket all live there.
#
#   private-pipewire.sh start DIR   starts it, prints `PULSE_SERVER=unix:DIR/native`
#   private-pipewire.sh stop DIR    stops it
#
# It runs without D-Bus and without a systemd user session, as root too:
# WirePlumber watches no hardware (ALSA, cameras, Bluetooth would need D-Bus
# or a seat), and pipewire-pulse's default "always a sink" module is unloaded,
# so that the server holds the devices of add_devices (private-server.sh) and
# nothing else, as the private PulseAudio daemon does.
set -euo pipefail

name=private-pipewire
# shellcheck source=scripts/private-server.sh
source "$(dirname "$0")/private-server.sh" "$@"
pids="$dir/pipewire.pids"

# Runs "$@" in the background with the server's private environment and its
# output in $dir/NAME.log, and adds its pid to the pid file.
start_process() {  # NAME COMMAND...
  local log="$dir/$1.log"
  shift
  env -u PULSE_SERVER -u PIPEWIRE_REMOTE -u PIPEWIRE_RUNTIME_DIR -u PIPEWIRE_CONFIG_DIR \
    -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY -u WAYLAND_DISPLAY \
    HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/config" \
    XDG_STATE_HOME="$dir/state" "$@" </dev/null >"$log" 2>&1 &
  echo $! >>"$pids"
}

write_configuration() {
  mkdir -p "$dir/home" "$dir/runtime" "$dir/state" "$dir/config/pipewire/pipewire-pulse.conf.d" \
    "$dir/config/wireplumber/main.lua.d" "$dir/config/wireplumber/bluetooth.lua.d"
  chmod 700 "$dir/runtime"
  # The PulseAudio socket where the private PulseAudio daemon has its own.
  cat >"$dir/config/pipewire/pipewire-pulse.conf.d/50-mirevo.conf" <<CONF
pulse.properties = { server.address = [ "unix:$dir/native" ] }
CONF
  # Without these WirePlumber looks for D-Bus (device reservation, portals)
  # and exits when there is none.
  cat >"$dir/config/wireplumber/main.lua.d/51-mirevo.lua" <<'LUA'
alsa_monitor.enabled = false
alsa_monitor.properties["alsa.reserve"] = false
v4l2_monitor.enabled = false
libcamera_monitor.enabled = false
default_access.properties["enable-flatpak-portal"] = false
LUA
  echo 'bluez_monitor.enabled = false' >"$dir/config/wireplumber/bluetooth.lua.d/51-mirevo.lua"
}

# WirePlumber and pipewire-pulse exit, or go on without their modules, when
# PipeWire does not answer yet: waits up to 10 s for it.
await_pipewire() {
  local tries=0
  until env XDG_RUNTIME_DIR="$dir/runtime" pw-cli info 0 >/dev/null 2>&1; do
    tries=$((tries + 1))
    if ! running "$(head -n 1 "$pids")" || ((tries >= 100)); then
      echo "$name: pipewire did not start; see $dir/pipewire.log" >&2
      stop
      exit 1
    fi
    sleep 0.1
  done
}

# The defaults live in WirePlumber's metadata: until WirePlumber has made it,
# choosing them fails, and it applies a choice a moment after pactl returns.
# Chooses them until the server reports them, for up to 10 s.
await_defaults() {
  local tries=0
  until choose_defaults && [[ $(client get-default-sink) == mirevo_speakers &&
    $(client get-default-source) == mirevo_mic ]]; do
    tries=$((tries + 1))
    ((tries < 100)) || return 1
    sleep 0.1
  done 2>/dev/null
}

start() {
  if [[ -f $pids ]] && running "$(head -n 1 "$pids")"; then
    echo "$name: a server already runs for $dir" >&2
    exit 1
  fi
  rm -f "$dir/native" "$pids"
  write_configuration
  start_process pipewire pipewire
  await_pipewire
  start_process wireplumber wireplumber
  start_process pipewire-pulse pipewire-pulse
  await_server "$pids"
  { client unload-module module-always-sink && add_devices && await_defaults; } >/dev/null || {
    echo "$name: setting up the devices failed; see the logs in $dir" >&2
    stop
    exit 1
  }
  echo "PULSE_SERVER=unix:$dir/native"
}

stop() {
  stop_processes "$pids"
}

dispatch
