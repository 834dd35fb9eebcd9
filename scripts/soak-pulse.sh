#!/usr/bin/env bash
# A long recording on a private PulseAudio daemon: the agent records the
# system's audio and a microphone for SECONDS (600) while a tone plays into
# each, then stops. Passes when neither source has a single chunk break (every
# chunk but the last is one full second and starts where the one before it
# ended, within 100 ms), no `failed` event came, and the agent's resident
# memory stays within 1 MiB of its size after the first minute.
#
#   scripts/soak-pulse.sh [SECONDS] [AGENT]
#
# The last line reads: soak-pulse: PASS|FAIL ...
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
agent=${2:-$root/build/mirevo-capture}
[[ -x $agent ]] || { echo "soak-pulse: no agent at $agent (build first)" >&2; exit 1; }
for tool in pulseaudio pactl pacat sox python3; do
  command -v "$tool" >/dev/null || { echo "soak-pulse: $tool is not installed" >&2; exit 1; }
done

# shellcheck source=scripts/tones.sh
source "$root/scripts/tones.sh"

dir=$(mktemp -d)
agent_pid=
cleanup() {
  stop_tones
  [[ -n $agent_pid ]] && kill "$agent_pid" 2>/dev/null || true
  exec 3>&- 2>/dev/null || true
  wait 2>/dev/null || true
  "$root/scripts/private-pulse.sh" stop "$dir"
  rm -rf "$dir"
}
trap cleanup EXIT

export "$("$root/scripts/private-pulse.sh" start "$dir")"

play_tone mirevo_speakers 440 $((seconds + 60))
play_tone mirevo_mic_line 1000 $((seconds + 60))
sleep 1

mkfifo "$dir/commands"
"$agent" <"$dir/commands" >"$dir/events" 2>"$dir/agent.err" &
agent_pid=$!
exec 3>"$dir/commands"
echo '{"type":"start","sessionId":"soak","jobId":"soak"}' >&3

# Resident memory every 5 s: "<seconds since start> <VmRSS in KiB>".
for ((t = 0; t <= seconds; t += 5)); do
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$agent_pid/status" 2>/dev/null || echo 0)
  echo "$t $rss" >>"$dir/memory"
  ((t < seconds)) && sleep 5
done

echo '{"type":"stop","sessionId":"soak"}' >&3
exec 3>&-
wait "$agent_pid" || true
agent_pid=

python3 - "$dir/events" "$dir/memory" "$seconds" "$(wc -c <"$dir/agent.err")" <<'PY'
import base64, json, sys

events_path, memory_path, seconds, stderr_bytes = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
chunks = {"microphone": [], "system": []}
other = {}
for line in open(events_path, "rb"):
    event = json.loads(line)
    kind = event["type"]
    if kind == "audio_chunk":
        chunks[event["source"]].append(event)
    else:
        other[kind] = other.get(kind, 0) + 1

ok = other.get("failed", 0) == 0 and other.get("completed", 0) == 1 and stderr_bytes == 0
for source, list_ in chunks.items():
    samples = sum(len(base64.b64decode(c["dataBase64"])) // 2 for c in list_)
    sequences_ok = [c["sequence"] for c in list_] == list(range(len(list_)))
    short = sum(1 for c in list_[:-1] if c["durationMs"] != 1000)
    jumps = [abs(b["startedAtMs"] - (a["startedAtMs"] + a["durationMs"])) for a, b in zip(list_, list_[1:])]
    breaks = short + sum(1 for j in jumps if j > 100)
    print(f"{source}: chunks={len(list_)} samples={samples} ({samples / 48000:.2f} s) "
          f"sequences_contiguous={sequences_ok} short_chunks={short} "
          f"max_start_offset_ms={max(jumps, default=0)} breaks={breaks}")
    for a, b in zip(list_, list_[1:]):
        jump = b["startedAtMs"] - (a["startedAtMs"] + a["durationMs"])
        if a["durationMs"] != 1000 or abs(jump) > 100:
            print(f"  break after sequence {a['sequence']}: startedAtMs={a['startedAtMs']} "
                  f"durationMs={a['durationMs']} next starts {jump:+d} ms from its end")
    ok = ok and sequences_ok and breaks == 0 and samples >= 48000 * (seconds - 5)

memory = [tuple(map(int, line.split())) for line in open(memory_path)]
after_minute = [rss for t, rss in memory if t >= 60]
base = after_minute[0] if after_minute else 0
peak = max(after_minute, default=0)
growth = peak - base
print(f"memory: rss_at_60s_kib={base} peak_after_60s_kib={peak} growth_kib={growth} "
      f"first_kib={memory[0][1]} last_kib={memory[-1][1]}")
print(f"events: {other} stderr_bytes={stderr_bytes}")
ok = ok and base > 0 and growth <= 1024
print(f"soak-pulse: {'PASS' if ok else 'FAIL'} seconds={seconds}")
sys.exit(0 if ok else 1)
PY
