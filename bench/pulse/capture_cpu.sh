#!/usr/bin/env bash
# CPU cost of a recording: the agent records the system's audio and a
# microphone from a private PulseAudio daemon (or, with SERVER pipewire, a
# private PipeWire) for SECONDS (60) while tones play, and in the same run two
# parec processes record the same two sources (float32 mono 48 kHz, 50 ms
# fragments) as the baseline.
#
#   bench/pulse/capture_cpu.sh [AGENT] [SECONDS] [SERVER]
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

# Seconds of CPU (user + system) a process has used so far.
cpu_seconds() {
  local ticks
  ticks=$(sed 's/^.*) //' "/proc/$1/stat" | awk '{print $12 + $13}')
  awk -v t="$ticks" -v hz="$(getconf CLK_TCK)" 'BEGIN {printf "%.2f", t / hz}'
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

sleep "$seconds"

# Context switches a thread asked for: how often it went to sleep to wait.
wakeups() {  # TASK_DIR
  awk '/^voluntary_ctxt_switches/ {print $2}' "$1/status"
}

threads=""
for task in /proc/"$agent_pid"/task/*; do
  threads+=" $(cat "$task/comm")=$(sed 's/^.*) //' "$task/stat" | awk '{print $12 + $13}')/$(wakeups "$task")"
done
parec_wakeups=0
for pid in "${parec_pids[@]}"; do
  for task in /proc/"$pid"/task/*; do parec_wakeups=$((parec_wakeups + $(wakeups "$task"))); done
done
agent_cpu=$(cpu_seconds "$agent_pid")
parec_cpu=0
for pid in "${parec_pids[@]}"; do
  parec_cpu=$(awk -v a="$parec_cpu" -v b="$(cpu_seconds "$pid")" 'BEGIN {printf "%.2f", a + b}')
done

echo '{"type":"stop","sessionId":"bench"}' >&3
exec 3>&-
wait "$agent_pid" || true

chunks_system=$(grep -c '"source":"system"' "$dir/events" || true)
chunks_microphone=$(grep -c '"source":"microphone"' "$dir/events" || true)
failures=$(grep -c '"type":"failed"' "$dir/events" || true)
echo "agent threads (CPU ticks/wake-ups):$threads"
echo "parec wake-ups: $parec_wakeups"
echo "recorded ${seconds}s: system chunks=$chunks_system microphone chunks=$chunks_microphone failed=$failures stderr_bytes=$(wc -c <"$dir/agent.err")"
ratio=$(awk -v a="$agent_cpu" -v p="$parec_cpu" 'BEGIN {if (p > 0) printf "%.2f", a / p; else print "inf"}')
echo "capture-cpu: agent_cpu_s=$agent_cpu parec_cpu_s=$parec_cpu ratio=$ratio"
