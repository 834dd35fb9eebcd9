#!/usr/bin/env bash
# A private PulseAudio daemon for tests, demos and benchmarks, isolated under
# one folder: its runtime, home, configuration and socket all live there.
#
#   private-pulse.sh start DIR   starts it, prints `PULSE_SERVER=unix:DIR/native`
#   private-pulse.sh stop DIR    stops it
#
# It offers null sinks for a fake output and fake microphones:
#   mirevo_speakers   the default sink (what "the computer plays")
#   mirevo_headphones a second output, for switching the default to
#   mirevo_mic        the default source, fed by playing into mirevo_mic_line
#   mirevo_mic2       a second microphone, fed by playing into mirevo_mic2_line
set -euo pipefail

usage() {
  echo "usage: $0 start|stop DIR" >&2
  exit 2
}

[[ $# -eq 2 ]] || usage
action=$1
dir=$2

# Runs "$@" with the daemon's private environment, replacing the caller so that
# a background call's pid is the command's own.
daemon_env() {
  exec env -u PULSE_SERVER -u PULSE_SINK -u PULSE_SOURCE \
    HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/config" \
    XDG_STATE_HOME="$dir/state" PULSE_RUNTIME_PATH="$dir/runtime/pulse" \
    PULSE_STATE_PATH="$dir/state/pulse" PULSE_CONFIG_PATH="$dir/config/pulse" "$@"
}

# Whether process $1 still runs (a zombie left for an init that does not reap
# counts as gone).
running() {
  [[ -r /proc/$1/stat ]] && [[ $(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) != Z ]]
}

client() {
  env HOME="$dir/home" PULSE_SERVER="unix:$dir/native" pactl "$@"
}

start() {
  if [[ -f "$dir/pulse.pid" ]] && running "$(cat "$dir/pulse.pid")"; then
    echo "private-pulse: a daemon already runs for $dir" >&2
    exit 1
  fi
  rm -f "$dir/native" "$dir/pulse.pid"
  mkdir -p "$dir/home" "$dir/runtime/pulse" "$dir/config/pulse" "$dir/state/pulse"
  chmod 700 "$dir/runtime" "$dir/runtime/pulse"
  # A client configuration that never spawns a daemon of its own.
  echo "autospawn = no" >"$dir/config/pulse/client.conf"

  # -n: no default script, so nothing but the modules below is loaded (no
  # hardware, no D-Bus). Root is allowed a per-user daemon with a warning.
  (daemon_env pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
    --system=no --use-pid-file=no --realtime=no --high-priority=no \
    --log-target=file:"$dir/pulse.log" \
    -L "module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
    </dev/null >"$dir/pulse.out" 2>&1) &
  local pid=$!
  echo "$pid" >"$dir/pulse.pid"

  local tries=0
  until client info >/dev/null 2>&1; do
    if ! running "$pid"; then
      echo "private-pulse: pulseaudio exited during start-up; see $dir/pulse.log" >&2
      rm -f "$dir/pulse.pid"
      exit 1
    fi
    tries=$((tries + 1))
    if [[ $tries -ge 100 ]]; then
      echo "private-pulse: pulseaudio did not answer within 10 s; see $dir/pulse.log" >&2
      kill "$pid" 2>/dev/null || true
      rm -f "$dir/pulse.pid"
      exit 1
    fi
    sleep 0.1
  done

  {
    client load-module module-null-sink sink_name=mirevo_speakers norewinds=1 \
      sink_properties=device.description=Mirevo_Speakers
    client load-module module-null-sink sink_name=mirevo_headphones \
      sink_properties=device.description=Mirevo_Headphones
    client load-module module-null-sink sink_name=mirevo_mic_line \
      sink_properties=device.description=Mirevo_Mic_Line
    client load-module module-remap-source source_name=mirevo_mic \
      master=mirevo_mic_line.monitor source_properties=device.description=Mirevo_Mic
    client load-module module-null-sink sink_name=mirevo_mic2_line \
      sink_properties=device.description=Mirevo_Mic2_Line
    client load-module module-remap-source source_name=mirevo_mic2 \
      master=mirevo_mic2_line.monitor source_properties=device.description=Mirevo_Mic2
    client set-default-sink mirevo_speakers
    client set-default-source mirevo_mic
  } >/dev/null || {
    echo "private-pulse: setting up the devices failed; see $dir/pulse.log" >&2
    stop
    exit 1
  }
  echo "PULSE_SERVER=unix:$dir/native"
}

stop() {
  [[ -f "$dir/pulse.pid" ]] || return 0
  local pid
  pid=$(cat "$dir/pulse.pid")
  kill "$pid" 2>/dev/null || true
  local tries=0
  while running "$pid"; do
    tries=$((tries + 1))
    if [[ $tries -ge 50 ]]; then
      kill -9 "$pid" 2>/dev/null || true
      break
    fi
    sleep 0.1
  done
  rm -f "$dir/pulse.pid" "$dir/native"
}

case $action in
  start) start ;;
  stop) stop ;;
  *) usage ;;
esac
