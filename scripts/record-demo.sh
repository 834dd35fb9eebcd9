#!/usr/bin/env bash
# Installs what is missing, builds, and records a short demo with the agent,
# driving it as Mirevo does: list_devices, start, a few seconds, stop, end of
# input. The events go to a JSON-lines file, which the inspector then checks
# and turns into one WAV file per source, a report and a picture.
#
# With a reachable audio server (a desktop with PulseAudio or PipeWire) it
# records your default microphone and what your default output plays. Without
# one it starts a private PulseAudio daemon with virtual speakers and a virtual
# microphone, plays generated speech into both, records that, and stops the
# daemon afterwards. On macOS it records your default microphone and the Mac's
# audio (macOS asks the app you run it from for both permissions).
#
#   scripts/record-demo.sh [--seconds N] [--out FOLDER] [--private] [--pipewire] [--speak]
#
#   --seconds N    how long to record (default 10)
#   --out FOLDER   where the files go (default out/demo-<date>-<time>)
#   --private      use the private daemon even when a server is reachable
#   --pipewire     the same with a private PipeWire in place of PulseAudio
#   --speak        macOS: speech (say) plays through the default output meanwhile
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
macos=false
speak=false
if [[ "$(uname -s)" == Darwin ]]; then
  macos=true
  # macOS ships bash 3.2; this script needs 4.4 (setup.sh installs Homebrew's).
  if ((BASH_VERSINFO[0] * 100 + BASH_VERSINFO[1] < 404)); then
    scripts/setup.sh
    exec "$(brew --prefix)/bin/bash" "$repo/scripts/record-demo.sh" "$@"
  fi
fi

seconds=10
out=""
force_private=false
private_script=private-pulse.sh
private_name="PulseAudio daemon"
usage() {
  sed -n '14,20p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}
while (($#)); do
  case $1 in
    --seconds) [[ $# -ge 2 && $2 =~ ^[1-9][0-9]*$ ]] || usage; seconds=$2; shift 2 ;;
    --out) [[ $# -ge 2 ]] || usage; out=$2; shift 2 ;;
    --private) force_private=true; shift ;;
    --speak) speak=true; shift ;;
    --pipewire)
      force_private=true
      private_script=private-pipewire.sh
      private_name="PipeWire server"
      shift
      ;;
    *) usage ;;
  esac
done
[[ -n $out ]] || out="out/demo-$(date +%Y%m%d-%H%M%S)"
mkdir -p "$out"
out=$(cd "$out" && pwd)
events="$out/events.jsonl"

say() { printf 'demo: %s\n' "$*"; }
die() {
  printf 'demo: %s\n' "$*" >&2
  exit 1
}

scripts/setup.sh
say "building"
scripts/build.sh
agent="$repo/build/mirevo-capture"
inspector="$repo/build/mirevo-inspect"
[[ -x $agent ]] || die "the build made no $agent"
[[ -x $inspector ]] || die "the build made no $inspector"

work=$(mktemp -d)
private_dir=""
players=()
agent_pid=""
cleanup() {
  set +e
  [[ -n $agent_pid ]] && kill "$agent_pid" 2>/dev/null
  for pid in "${players[@]}"; do kill "$pid" 2>/dev/null; done
  [[ -n $private_dir ]] && "$repo/scripts/$private_script" stop "$private_dir"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Whether a server answers, without letting the probe spawn a daemon of its own.
server_reachable() {
  echo "autospawn = no" >"$work/probe.conf"
  PULSE_CLIENTCONFIG="$work/probe.conf" timeout 5 pactl info >/dev/null 2>&1
}

# Plays generated speech, over and over for the whole recording, into a sink.
play_speech() {
  local sink=$1 voice=$2 text=$3 name=$4
  espeak-ng -v "$voice" -s 150 -w "$work/$name-once.wav" "$text"
  # Half a second of quiet between repeats; enough repeats to outlast the recording.
  sox "$work/$name-once.wav" "$work/$name.wav" pad 0 0.5 repeat $((seconds / 2 + 5))
  # A short latency, as the tests' tone players have: with paplay's default
  # buffer of two seconds the server plays it out late, and a microphone fed
  # from its sink would deliver its first audio more than a second into the
  # recording.
  paplay --latency-msec=50 -d "$sink" "$work/$name.wav" &
  players+=($!)
}

# macOS: speech from `say`, over and over, through the default output.
speak_on_mac() {
  command say -o "$work/speech.aiff" \
    "This is the system audio of the Mirevo demo. The Mac is speaking through its default output."
  (
    trap 'kill "$player" 2>/dev/null; exit 0' TERM
    while :; do
      afplay "$work/speech.aiff" &
      player=$!
      wait "$player"
      sleep 0.5
    done
  ) &
  players+=($!)
}

if $macos; then
  mode="this Mac"
  say "recording your default microphone and the Mac's audio (macOS may ask for both permissions)"
  if $speak; then
    say "  speech plays through the default output"
    speak_on_mac
  fi
elif ! $force_private && server_reachable; then
  mode="your audio server"
  server=$(pactl info | sed -n 's/^Server Name: //p')
  sink=$(pactl get-default-sink 2>/dev/null || pactl info | sed -n 's/^Default Sink: //p')
  say "recording from $server: your default microphone, and the output $sink (its monitor)"
else
  mode="a private $private_name"
  private_dir="$work/server"
  mkdir -p "$private_dir"
  server_line=$("$repo/scripts/$private_script" start "$private_dir") ||
    die "the private $private_name did not start"
  export PULSE_SERVER="${server_line#PULSE_SERVER=}"
  say "no audio server reachable (or --private, --pipewire): started a private $private_name"
  say "  speech plays into its speakers (system audio), a second voice into its microphone"
  play_speech mirevo_speakers en-us \
    "This is the system audio of the Mirevo demo. The computer is speaking through its speakers." \
    speakers
  play_speech mirevo_mic_line en-us+f3 \
    "And this is the microphone. Testing, one, two, three." microphone
  sleep 0.5
fi

# The agent reads commands from a pipe that this script holds open.
mkfifo "$work/commands"
: >"$events"
"$agent" <"$work/commands" >"$events" 2>/dev/null &
agent_pid=$!
exec {commands}>"$work/commands"
send() { printf '%s\n' "$1" >&"$commands"; }

# Waits until a line matching $1 is in the event file; fails after $2 seconds.
wait_for() {
  local pattern=$1 limit=$(($2 * 10))
  for ((i = 0; i < limit; i++)); do
    grep -q -- "$pattern" "$events" && return 0
    kill -0 "$agent_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

send '{"type":"list_devices"}'
wait_for '"type":"devices"' 10 || die "the agent did not answer list_devices; see $events"
devices=$(grep -m1 '"type":"devices"' "$events")
default=$(sed -nE 's/.*"id":"([^"\\]*(\\.[^"\\]*)*)","isDefault":true,"kind":"audioinput","label":"([^"\\]*(\\.[^"\\]*)*)".*/\1\t\3/p' <<<"$devices")
session="demo-$(date +%s)"
if [[ -n $default ]]; then
  microphone_id=${default%%$'\t'*}
  say "microphone: ${default#*$'\t'} ($microphone_id)"
  send "{\"type\":\"start\",\"sessionId\":\"$session\",\"jobId\":\"demo-job\",\"microphoneDeviceId\":\"$microphone_id\"}"
else
  say "microphone: the server marks no default; the agent picks one"
  send "{\"type\":\"start\",\"sessionId\":\"$session\",\"jobId\":\"demo-job\"}"
fi

# Progress from the latest status event: elapsed time and both levels.
bar() {
  awk -v level="${1:-0}" 'BEGIN { n = int(level * 10 + 0.5); if (n > 10) n = 10
    s = ""; for (i = 0; i < 10; i++) s = s (i < n ? "#" : "."); print s }'
}
show_progress() {
  local status elapsed microphone system
  status=$(tail -c 600000 "$events" | grep '"type":"status"' | tail -n 1) || return 0
  elapsed=$(sed -nE 's/.*"elapsedSeconds":([0-9]+).*/\1/p' <<<"$status")
  microphone=$(sed -nE 's/.*"microphoneLevel":([-0-9.eE+]+).*/\1/p' <<<"$status")
  system=$(sed -nE 's/.*"systemLevel":([-0-9.eE+]+).*/\1/p' <<<"$status")
  [[ -n $elapsed ]] || return 0
  # On a terminal one line is redrawn; elsewhere a line per second is printed.
  if [[ ! -t 1 ]]; then
    [[ $elapsed != "${last_shown:-}" ]] || return 0
    last_shown=$elapsed
  fi
  local start=$'\n'
  [[ ! -t 1 ]] || start=$'\r'
  printf '%sdemo: recording %3s s of %s   microphone [%s] %.2f   system [%s] %.2f ' \
    "$start" "$elapsed" "$seconds" "$(bar "$microphone")" "${microphone:-0}" "$(bar "$system")" "${system:-0}"
}

ended_early=false
started=$SECONDS
while ((SECONDS - started < seconds)); do
  if grep -q "\"sessionId\":\"$session\",\"type\":\"failed\"" "$events"; then
    ended_early=true
    break
  fi
  kill -0 "$agent_pid" 2>/dev/null || die "the agent exited during the recording; see $events"
  show_progress
  sleep 0.25
done
show_progress
echo

send "{\"type\":\"stop\",\"sessionId\":\"$session\"}"
if ! $ended_early; then
  wait_for "\"sessionId\":\"$session\",\"type\":\"completed\"" 10 ||
    say "no completed within 10 s of stop"
fi
exec {commands}>&-  # end of input: the agent exits
for ((i = 0; i < 100; i++)); do
  kill -0 "$agent_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$agent_pid" 2>/dev/null; then
  say "the agent did not exit within 10 s of the end of its input; stopping it"
  kill "$agent_pid"
fi
wait "$agent_pid" 2>/dev/null || true
agent_pid=""

if $ended_early; then
  say "the recording failed: $(grep -m1 "\"sessionId\":\"$session\",\"type\":\"failed\"" "$events" |
    sed -nE 's/.*"message":"(([^"\\]|\\.)*)".*/\1/p')"
fi

set +e
"$inspector" --wav "$out" --svg "$out/recording.svg" "$events" >"$out/report.txt"
inspected=$?
set -e
echo
cat "$out/report.txt"
echo
say "recorded with $mode; files in $out:"
say "  events.jsonl    the agent's event stream"
for wav in "$out"/*.wav; do [[ -e $wav ]] && say "  $(basename "$wav")  $(basename "$wav" .wav | sed 's/.*-//') audio"; done
say "  recording.svg   waveforms, chunk timelines and the lag between the sources"
say "  report.txt      the report above"
if ((inspected != 0)); then
  say "the inspector found protocol violations (exit status $inspected)"
  exit 1
fi
