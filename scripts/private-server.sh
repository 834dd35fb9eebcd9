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
    start) : >"$dir/pactl.log" && start ;;
    stop) stop ;;
    *) usage ;;
  esac
}

# Whether process $1 still runs (a zombie left for an init that does not reap
# counts as gone).
running() {
  [[ -r /proc/$1/stat ]] && [[ $(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) != Z ]]
}

# How long a start may take, from launching the server to its devices and
# defaults, and how long one attempt at it may: each step that waits or tries
# again ends with both. A server that hangs while it starts (PipeWire's pulse
# server now and then answers no call for half a minute on a loaded machine)
# is stopped and started again while the budget lasts (start_with_retries).
start_budget_seconds=40
attempt_seconds=12
start_deadline=$((SECONDS + start_budget_seconds))
attempt_deadline=$start_deadline
within_budget() {
  ((SECONDS < start_deadline && SECONDS < attempt_deadline))
}

# Runs start_once (the caller's: launch the server and set it up; status 1
# when it failed, having said why) until it succeeds, stopping what it left
# between attempts and showing its logs' end; exits when the budget is spent.
start_with_retries() {
  until attempt_deadline=$((SECONDS + attempt_seconds)) && start_once; do
    if ((SECONDS + 2 >= start_deadline)); then
      echo "$name: no start within $start_budget_seconds s" >&2
      show_logs
      stop
      exit 1
    fi
    show_logs
    stop
    echo "$name: starting it again" >&2
  done
}

# One pactl call against the server. pactl waits 30 s for a server that took
# the connection and does not answer (PipeWire's pulse server does that while
# PipeWire itself is busy): the call is cut after 5 s, so that the caller can
# try again within its budget. What pactl says of its failures goes to
# $dir/pactl.log, which show_logs shows with the server's.
client() {
  env HOME="$dir/home" PULSE_SERVER="unix:$dir/native" timeout 5 pactl "$@" 2>>"$dir/pactl.log"
}

# Runs COMMAND... until it succeeds or the start's budget is spent: a loaded
# machine may time one call out, and a single failure must not fail the start.
persist() {
  until "$@"; do
    within_budget || return 1
    sleep 0.2
  done
}

# The end of the server's logs, on stderr, when its start failed: the folder
# may be removed with the test or soak that made it.
show_logs() {
  local log
  for log in "$dir"/*.log "$dir"/*.out; do
    [[ -s $log ]] || continue
    echo "$name: the end of $log:" >&2
    tail -n 20 "$log" | sed 's/^/  /' >&2
  done
}

# Waits until the server answers on its socket while every process named in
# the pid file $1 runs, within the attempt's budget; status 1 when not.
await_server() {
  local pids
  read -r -a pids <<<"$(tr '\n' ' ' <"$1")"
  until client info >/dev/null 2>&1; do
    for pid in "${pids[@]}"; do
      if ! running "$pid"; then
        echo "$name: process $pid exited during start-up" >&2
        return 1
      fi
    done
    if ! within_budget; then
      echo "$name: the server did not answer" >&2
      return 1
    fi
    sleep 0.1
  done
}

# Whether the server lists the sink or source (KIND sinks|sources) NAME:
# status 0 when it does, 1 when not, 2 when it did not answer.
listed() {  # KIND NAME
  local names
  names=$(client list short "$1") || return 2
  cut -f 2 <<<"$names" | grep -qxF "$2"
}

# Loads MODULE ARGS... unless the server lists the device it makes already,
# so that a call timed out after the server had done it is not done twice.
ensure() {  # KIND NAME MODULE ARGS...
  local kind=$1 device=$2 status=0
  shift 2
  listed "$kind" "$device" || status=$?
  case $status in
    0) return 0 ;;
    1) client load-module "$@" >/dev/null ;;
    *) return 1 ;;
  esac
}

# The fake output and the fake microphones:
#   mirevo_speakers   the default sink (what "the computer plays")
#   mirevo_headphones a second output, for switching the default to
#   mirevo_mic        the default source, fed by playing into mirevo_mic_line
#   mirevo_mic2       a second microphone, fed by playing into mirevo_mic2_line
# Every null sink is made without rewinds (norewinds=1), so that it renders
# block by block at the latency its players ask for, as a hardware sink does:
# with rewinds PulseAudio configures it for two seconds, and its monitor, and
# a microphone remapped from that, pass on what is played there seconds late.
add_devices() {
  persist ensure sinks mirevo_speakers module-null-sink sink_name=mirevo_speakers norewinds=1 \
    sink_properties=device.description=Mirevo_Speakers &&
    persist ensure sinks mirevo_headphones module-null-sink sink_name=mirevo_headphones \
      norewinds=1 sink_properties=device.description=Mirevo_Headphones &&
    persist ensure sinks mirevo_mic_line module-null-sink sink_name=mirevo_mic_line norewinds=1 \
      sink_properties=device.description=Mirevo_Mic_Line &&
    persist ensure sources mirevo_mic module-remap-source source_name=mirevo_mic \
      master=mirevo_mic_line.monitor source_properties=device.description=Mirevo_Mic &&
    persist ensure sinks mirevo_mic2_line module-null-sink sink_name=mirevo_mic2_line \
      norewinds=1 sink_properties=device.description=Mirevo_Mic2_Line &&
    persist ensure sources mirevo_mic2 module-remap-source source_name=mirevo_mic2 \
      master=mirevo_mic2_line.monitor source_properties=device.description=Mirevo_Mic2
}

# Chooses the defaults until the server reports them, within the start's
# budget. On PipeWire they live in WirePlumber's metadata: until WirePlumber
# has made it, choosing them fails, and it applies a choice a moment after
# pactl returns.
defaults_chosen() {
  client set-default-sink mirevo_speakers && client set-default-source mirevo_mic &&
    [[ $(client get-default-sink) == mirevo_speakers &&
      $(client get-default-source) == mirevo_mic ]]
}
choose_defaults() {
  persist defaults_chosen 2>/dev/null
}

# The start's last step: the devices and the defaults, each call tried again
# within the attempt's budget; status 1 when that failed.
set_up_devices() {
  { add_devices && choose_defaults; } >/dev/null || {
    echo "$name: setting up the devices failed" >&2
    return 1
  }
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
