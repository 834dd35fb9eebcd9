# Sourced by private-pulse.sh and private-pipewire.sh with their arguments:
# what a private audio server for tests, demos and benchmarks is made of,
# whichever server runs it. The caller sets $name (its name in messages) and
# defines start and stop; it ends with `dispatch`. The server's folder is $dir,
# its PulseAudio socket $dir/native.

usage() {
  echo "usage: $0 start|stop DIR" >&2
  exit 2
}

[[ $# -eq 2 ]] || usage
action=$1
dir=$2

dispatch() {
  case $action in
    start) start ;;
    stop) stop ;;
    *) usage ;;
  esac
}

# Whether process $1 still runs (a zombie left for an init that does not reap
# counts as gone).
running() {
  [[ -r /proc/$1/stat ]] && [[ $(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) != Z ]]
}

client() {
  env HOME="$dir/home" PULSE_SERVER="unix:$dir/native" pactl "$@"
}

# Waits up to 10 s until the server answers on its socket while every process
# named in the pid file $1 runs; on failure stops them and exits.
await_server() {
  local pids tries=0
  read -r -a pids <<<"$(tr '\n' ' ' <"$1")"
  until client info >/dev/null 2>&1; do
    for pid in "${pids[@]}"; do
      if ! running "$pid"; then
        echo "$name: process $pid exited during start-up; see the logs in $dir" >&2
        stop_processes "$1"
        exit 1
      fi
    done
    tries=$((tries + 1))
    if [[ $tries -ge 100 ]]; then
      echo "$name: the server did not answer within 10 s; see the logs in $dir" >&2
      stop_processes "$1"
      exit 1
    fi
    sleep 0.1
  done
}

# The fake output and the fake microphones. The two outputs render as a
# hardware sink does, block by block (norewinds=1): a classic null sink that
# may rewind renders seconds ahead, and its monitor passes on what an
# application plays there only seconds later.
#
# The fake output and the fake microphones:
#   mirevo_speakers   the default sink (what "the computer plays")
#   mirevo_headphones a second output, for switching the default to
#   mirevo_mic        the default source, fed by playing into mirevo_mic_line
#   mirevo_mic2       a second microphone, fed by playing into mirevo_mic2_line
add_devices() {
  client load-module module-null-sink sink_name=mirevo_speakers norewinds=1 \
    sink_properties=device.description=Mirevo_Speakers
  client load-module module-null-sink sink_name=mirevo_headphones norewinds=1 \
    sink_properties=device.description=Mirevo_Headphones
  client load-module module-null-sink sink_name=mirevo_mic_line \
    sink_properties=device.description=Mirevo_Mic_Line
  client load-module module-remap-source source_name=mirevo_mic \
    master=mirevo_mic_line.monitor source_properties=device.description=Mirevo_Mic
  client load-module module-null-sink sink_name=mirevo_mic2_line \
    sink_properties=device.description=Mirevo_Mic2_Line
  client load-module module-remap-source source_name=mirevo_mic2 \
    master=mirevo_mic2_line.monitor source_properties=device.description=Mirevo_Mic2
}

choose_defaults() {
  client set-default-sink mirevo_speakers && client set-default-source mirevo_mic
}

# Stops the processes named in the pid file $1, the last started first, each
# with SIGTERM and after 5 s with SIGKILL; removes the file and the socket.
stop_processes() {
  [[ -f $1 ]] || return 0
  local pids
  read -r -a pids <<<"$(tac "$1" | tr '\n' ' ')"
  for pid in "${pids[@]}"; do
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
  done
  rm -f "$1" "$dir/native"
}
