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
# PipeWire does not answer yet: waits for it within the start's budget.
await_pipewire() {
  until env XDG_RUNTIME_DIR="$dir/runtime" timeout 5 pw-cli info 0 >/dev/null 2>&1; do
    if ! running "$(head -n 1 "$pids")" || ! within_budget; then
      echo "$name: pipewire did not start" >&2
      return 1
    fi
    sleep 0.1
  done
}

# pipewire-pulse loads a sink of its own ("always a sink") when there is
# none; the server is to hold the devices of add_devices alone.
drop_always_sink() {
  local modules
  modules=$(client list short modules) || return 1
  if cut -s -f 2 <<<"$modules" | grep -qxF module-always-sink; then
    client unload-module module-always-sink
  fi
}

start_once() {
  rm -f "$dir/native" "$pids"
  start_process pipewire pipewire
  await_pipewire || return 1
  start_process wireplumber wireplumber
  start_process pipewire-pulse pipewire-pulse
  await_server "$pids" || return 1
  persist drop_always_sink >/dev/null || {
    echo "$name: unloading module-always-sink failed" >&2
    return 1
  }
  set_up_devices
}

start() {
  if [[ -f $pids ]] && running "$(head -n 1 "$pids")"; then
    echo "$name: a server already runs for $dir" >&2
    exit 1
  fi
  write_configuration
  start_with_retries
  echo "PULSE_SERVER=unix:$dir/native"
}

stop() {
  stop_processes "$pids"
}

dispatch
