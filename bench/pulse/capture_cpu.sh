#!/usr/bin/env bash
# CPU cost of a recording: the agent records the system's audio and a
# microphone from a private PulseAudio daemon (or, with SERVER pipewire, a
# private PipeWire) for SECONDS (60) while tones play, and in the same run
# parec processes record the same sources (float32 mono 48 kHz, 50 ms
# fragments) as the baseline: the speakers' monitor and the microphone. With
# OUTPUTS 2, a second tone plays into the headphones as well, which the
# system's audio then holds too, and a third parec records their monitor. CPU time is read from the scheduler (nanoseconds
# on the CPU, every thread) over the same window of SECONDS for both, after a
# few seconds in which both have started; the lines before the last show each
# of the agent's threads (CPU ticks since it started / times it went to
# sleep) and the baseline's wake-ups in the window. With DRIFT_PPM (classic
# PulseAudio only), the microphone is a pipe source whose clock runs that
# many ppm off the host's, fed by build/tests/pulse/mirevo-drifting-writer
# (which also plays bursts into the speakers), and parec records it too.
#
#   bench/pulse/capture_cpu.sh [AGENT] [SECONDS] [SERVER] [OUTPUTS] [DRIFT_PPM]
#
# The last line reads: capture-cpu: agent_cpu_s=<n> parec_cpu_s=<n> ratio=<agent/parec>
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
agent=${1:-$root/build/mirevo-capture}
seconds=${2:-60}
case ${3:-pulseaudio} in
  pulseaudio) server_script=$root/scripts/private-pulse.sh ;;
  pipewire) server_script=$root/scripts/private-pipewire.sh ;;
  *) echo "capture_cpu: SERVER is pulseaudio or pipewire" >&2; exit 2 ;;
esac
outputs=${4:-1}
[[ $outputs == 1 || $outputs == 2 ]] || { echo "capture_cpu: OUTPUTS is 1 or 2" >&2; exit 2; }
drift=${5:-}
writer=$root/build/tests/pulse/mirevo-drifting-writer
microphone=mirevo_mic
if [[ -n $drift ]]; then
  [[ $drift =~ ^-?[0-9]+(\.[0-9]+)?$ && $server_script == */private-pulse.sh ]] ||
    { echo "capture_cpu: DRIFT_PPM is a number of ppm, on pulseaudio" >&2; exit 2; }
  [[ -x $writer ]] || { echo "capture_cpu: no writer at $writer (build first)" >&2; exit 1; }
  microphone=mirevo_drifting_mic
fi
[[ -x $agent ]] || { echo "capture_cpu: no agent at $agent" >&2; exit 1; }
for tool in pactl pacat parec sox; do
  command -v "$tool" >/dev/null || { echo "capture_cpu: $tool is not installed" >&2; exit 1; }
done

# shellcheck source=scripts/tones.sh
source "$root/scripts/tones.sh"

dir=$(mktemp -d)
pids=()
cleanup() {
  stop_tones
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  exec 3>&- || true
  wait 2>/dev/null || true
  "$server_script" stop "$dir"
  rm -rf "$dir"
}
trap cleanup EXIT

export "$("$server_script" start "$dir")"

play_tone mirevo_speakers 440 $((seconds + 30))
play_tone mirevo_mic_line 1000 $((seconds + 30))
[[ $outputs == 2 ]] && play_tone mirevo_headphones 880 $((seconds + 30))

# Nanoseconds on the CPU that the living threads of processes have used.
cpu_ns() {  # PID...
  local pid total=0
  for pid in "$@"; do
    for task in /proc/"$pid"/task/*; do total=$((total + $(awk '{print $1}' "$task/schedstat"))); done
  done
  echo "$total"
}

# Context switches the threads of processes asked for: how often they slept.
wakeups() {  # PID...
  local pid total=0
  for pid in "$@"; do
    for task in /proc/"$pid"/task/*; do
      total=$((total + $(awk '/^voluntary_ctxt_switches/ {print $2}' "$task/status")))
    done
  done
  echo "$total"
}

mkfifo "$dir/commands"
"$agent" <"$dir/commands" >"$dir/events" 2>"$dir/agent.err" &
agent_pid=$!
pids+=("$agent_pid")
exec 3>"$dir/commands"
if [[ -n $drift ]]; then
  pactl load-module module-pipe-source source_name=$microphone file="$dir/microphone.fifo" \
    format=s16le rate=48000 channels=1 >/dev/null
  "$writer" --fifo "$dir/microphone.fifo" --ppm "$drift" --speakers mirevo_speakers \
    --wait-for "$dir/go" >/dev/null 2>&1 3>&- &
  pids+=($!)
fi
echo "{\"type\":\"start\",\"sessionId\":\"bench\",\"jobId\":\"bench\",\"microphoneDeviceId\":\"$microphone\"}" >&3
if [[ -n $drift ]]; then
  # The writer starts once the microphone is recorded: audio written before
  # would wait in the pipe.
  for _ in $(seq 200); do
    index=$(pactl list short sources | awk -v name=$microphone '$2 == name {print $1}')
    pactl list short source-outputs | awk -v i="$index" '$2 == i {found = 1} END {exit !found}' && break
    sleep 0.05
  done
  touch "$dir/go"
fi

record() {  # SOURCE
  # Not holding the agent's command pipe: the agent must see its end.
  parec --device="$1" --format=float32le --rate=48000 --channels=1 --latency-msec=50 \
    >/dev/null 2>/dev/null 3>&- &
  pids+=($!)
  parec_pids+=($!)
}
parec_pids=()
record mirevo_speakers.monitor
record $microphone
[[ $outputs == 2 ]] && record mirevo_headphones.monitor

sleep 3
agent_before=$(cpu_ns "$agent_pid")
parec_before=$(cpu_ns "${parec_pids[@]}")
parec_wakeups_before=$(wakeups "${parec_pids[@]}")
sleep "$seconds"
agent_cpu=$(awk -v a="$(cpu_ns "$agent_pid")" -v b="$agent_before" 'BEGIN {printf "%.3f", (a - b) / 1e9}')
parec_cpu=$(awk -v a="$(cpu_ns "${parec_pids[@]}")" -v b="$parec_before" 'BEGIN {printf "%.3f", (a - b) / 1e9}')
parec_wakeups=$(($(wakeups "${parec_pids[@]}") - parec_wakeups_before))

threads=""
for task in /proc/"$agent_pid"/task/*; do
  threads+=" $(cat "$task/comm")=$(sed 's/^.*) //' "$task/stat" | awk '{print $12 + $13}')/$(awk '/^voluntary_ctxt_switches/ {print $2}' "$task/status")"
done

echo '{"type":"stop","sessionId":"bench"}' >&3
exec 3>&-
wait "$agent_pid" || true

chunks_system=$(grep -c '"source":"system"' "$dir/events" || true)
chunks_microphone=$(grep -c '"source":"microphone"' "$dir/events" || true)
failures=$(grep -c '"type":"failed"' "$dir/events" || true)
echo "agent threads since the start (CPU ticks/wake-ups):$threads"
echo "parec wake-ups in the window: $parec_wakeups"
echo "recorded ${seconds}s with $outputs output(s) playing against ${#parec_pids[@]} parec: system chunks=$chunks_system microphone chunks=$chunks_microphone failed=$failures stderr_bytes=$(wc -c <"$dir/agent.err")"
ratio=$(awk -v a="$agent_cpu" -v p="$parec_cpu" 'BEGIN {if (p > 0) printf "%.2f", a / p; else print "inf"}')
echo "capture-cpu: agent_cpu_s=$agent_cpu parec_cpu_s=$parec_cpu ratio=$ratio"
