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
# sleep) and the baseline's wake-ups in the window.
#
#   bench/pulse/capture_cpu.sh [AGENT] [SECONDS] [SERVER] [OUTPUTS]
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
echo '{"type":"start","sessionId":"bench","jobId":"bench"}' >&3

record() {  # SOURCE
  # Not holding the agent's command pipe: the agent must see its end.
  parec --device="$1" --format=float32le --rate=48000 --channels=1 --latency-msec=50 \
    >/dev/null 2>/dev/null 3>&- &
  pids+=($!)
  parec_pids+=($!)
}
parec_pids=()
record mirevo_speakers.monitor
record mirevo_mic
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
