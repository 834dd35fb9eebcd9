#!/usr/bin/env bash
# A long recording on a private audio server: the agent records the system's
# audio and a microphone for SECONDS (600) while tones play into every sink,
# then stops.
#
#   scripts/soak-pulse.sh [--pipewire] [--chaos] [--seed N] [--drift PPM] [SECONDS] [AGENT]
#
#   --pipewire  a private PipeWire with its PulseAudio server, in place of
#               the private PulseAudio daemon
#   --chaos     during the recording, at random intervals of 2 to 6 s and one
#               at a time: switch the default output, plug or unplug the
#               headphones or the second microphone, change the default
#               microphone, suspend a sink, restart the server, pause the
#               agent (SIGSTOP, then SIGCONT) or stop reading its output for
#               a while. The last 10 s are left quiet.
#   --seed N    the chaos schedule's seed (default: a random one); it is
#               printed, and the same seed replays the same schedule
#   --drift PPM the microphone is a pipe source whose clock runs PPM off the
#               host's (build/tests/pulse/mirevo-drifting-writer feeds it
#               once it is recorded), and the writer plays bursts into the
#               speakers at the same real moments, every 200 ms; classic
#               PulseAudio only, without --chaos (PipeWire's pipe source
#               follows the graph's clock, not its writer)
#
# Without --chaos it passes when neither source has a single chunk break
# (every chunk but the last is one full second and starts where the one
# before it ended, within 100 ms), no `failed` event came, and the agent's
# resident memory stays within 1 MiB of its size after the first minute.
#
# With --chaos it passes when the recording ends with `completed` and no
# `failed`, each source's sequence numbers are contiguous, no chunk overlaps
# the one before it (by more than 2 ms: the timeline's slew and the rounding
# to milliseconds), each source's audio reaches to within 1.5 s of the stop,
# the agent's resident memory never exceeds 48 MiB, `stop` is answered within
# 5 s, and the agent wrote nothing to stderr. Gaps are allowed: a suspended
# sink, a paused agent and a restarted server leave them. When the soak could
# not bring its restarted server back within the agent's 10 s, the agent's
# one `failed` is the right end instead: the chaos ends, and the run passes
# when that `failed` came at the end of the window (not before 10 s after the
# server went, nor more than 13 s after the soak gave it up), no `completed`
# followed, and each source's audio reaches to within 1.5 s of the loss, with
# the same checks of sequences, overlaps, memory and stderr.
#
# With --drift it also passes only when every burst's offset between the two
# sources stays within 2 ms of the offset of the first five seconds (the
# rig's constant: the speakers' buffer), and prints the offset minute by
# minute.
#
# With SOAK_KEEP=1 its folder (the events, the agent's stderr, the server's
# logs) is kept and named at the end. The last line reads:
# soak-pulse: PASS|FAIL ...
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
usage() {
  sed -n '6,22p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}
chaos=false
seed=""
drift=""
server_script=private-pulse.sh
server_tools=(pulseaudio)
positional=()
while (($#)); do
  case $1 in
    --chaos) chaos=true; shift ;;
    --seed) [[ $# -ge 2 && $2 =~ ^[0-9]+$ ]] || usage; seed=$2; shift 2 ;;
    --drift) [[ $# -ge 2 && $2 =~ ^-?[0-9]+(\.[0-9]+)?$ ]] || usage; drift=$2; shift 2 ;;
    --pipewire) server_script=private-pipewire.sh; server_tools=(pipewire wireplumber pipewire-pulse); shift ;;
    -*) usage ;;
    *) positional+=("$1"); shift ;;
  esac
done
((${#positional[@]} <= 2)) || usage
seconds=${positional[0]:-600}
agent=${positional[1]:-$root/build/mirevo-capture}
[[ $seconds =~ ^[1-9][0-9]*$ ]] || usage
[[ -x $agent ]] || { echo "soak-pulse: no agent at $agent (build first)" >&2; exit 1; }
for tool in "${server_tools[@]}" pactl pacat sox python3; do
  command -v "$tool" >/dev/null || { echo "soak-pulse: $tool is not installed" >&2; exit 1; }
done
writer=$root/build/tests/pulse/mirevo-drifting-writer
if [[ -n $drift ]]; then
  [[ $server_script == private-pulse.sh ]] && ! $chaos ||
    { echo "soak-pulse: --drift runs on classic PulseAudio, without --chaos" >&2; exit 2; }
  [[ -x $writer ]] || { echo "soak-pulse: no writer at $writer (build first)" >&2; exit 1; }
fi
if $chaos; then
  ((seconds >= 30)) || { echo "soak-pulse: a chaos run needs at least 30 s" >&2; exit 2; }
  [[ -n $seed ]] || seed=$(((RANDOM << 15) | RANDOM))
  echo "soak-pulse: chaos seed $seed (replay: scripts/soak-pulse.sh --chaos --seed $seed$([[ $server_script == private-pipewire.sh ]] && echo " --pipewire") $seconds)"
fi

# shellcheck source=scripts/tones.sh
source "$root/scripts/tones.sh"

dir=$(mktemp -d)
agent_pid=
reader_pid=
sampler_pid=
writer_pid=
cleanup() {
  set +e
  stop_tones
  [[ -n $writer_pid ]] && kill "$writer_pid" 2>/dev/null
  [[ -n $reader_pid ]] && kill -CONT "$reader_pid" 2>/dev/null
  [[ -n $agent_pid ]] && kill -CONT "$agent_pid" 2>/dev/null && kill "$agent_pid" 2>/dev/null
  [[ -n $sampler_pid ]] && kill "$sampler_pid" 2>/dev/null
  exec 3>&- 2>/dev/null
  wait 2>/dev/null
  "$root/scripts/$server_script" stop "$dir/server"
  if [[ -n ${SOAK_KEEP:-} ]]; then echo "soak-pulse: kept $dir"; else rm -rf "$dir"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir "$dir/server"
export "$("$root/scripts/$server_script" start "$dir/server")"

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# The tones: one into every sink, so that every source and output has audio.
headphones_plugged=true
mic2_plugged=true
play_tones() {
  local length=$((seconds + 120))
  # With a drifting microphone the writer's bursts are the only sound, so
  # that the system's audio is quiet between them.
  [[ -z $drift ]] || return 0
  play_tone mirevo_speakers 440 "$length"
  $headphones_plugged && play_tone mirevo_headphones 880 "$length"
  play_tone mirevo_mic_line 1000 "$length"
  play_tone mirevo_mic2_line 660 "$length"
}
play_tones
sleep 1

# The agent's output goes through a pipe to a reader, which chaos may pause
# as a parent that stops reading would.
mkfifo "$dir/commands" "$dir/output"
"$agent" <"$dir/commands" >"$dir/output" 2>"$dir/agent.err" &
agent_pid=$!
cat "$dir/output" >"$dir/events" &
reader_pid=$!
exec 3>"$dir/commands"
started_ms=$(now_ms)
if [[ -n $drift ]]; then
  pactl load-module module-pipe-source source_name=mirevo_drifting_mic \
    file="$dir/server/microphone.fifo" format=s16le rate=48000 channels=1 >/dev/null
  "$writer" --fifo "$dir/server/microphone.fifo" --ppm "$drift" --speakers mirevo_speakers \
    --wait-for "$dir/go" >/dev/null 2>"$dir/writer.err" 3>&- &
  writer_pid=$!
  echo '{"type":"start","sessionId":"soak","jobId":"soak","microphoneDeviceId":"mirevo_drifting_mic"}' >&3
  # The writer starts once the microphone is recorded: audio written before
  # would wait in the pipe and come late.
  for _ in $(seq 200); do
    index=$(pactl list short sources | awk '$2 == "mirevo_drifting_mic" {print $1}')
    pactl list short source-outputs | awk -v i="$index" '$2 == i {found = 1} END {exit !found}' && break
    sleep 0.05
  done
  touch "$dir/go"
else
  echo '{"type":"start","sessionId":"soak","jobId":"soak"}' >&3
fi

# Resident memory every second: "<ms since start> <VmRSS in KiB>".
(
  while kill -0 "$agent_pid" 2>/dev/null; do
    rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$agent_pid/status" 2>/dev/null || echo 0)
    echo "$(($(now_ms) - started_ms)) ${rss:-0}"
    sleep 1
  done >"$dir/memory"
) 3>&- &
sampler_pid=$!

log() { printf 'soak-pulse: %6.1f s  %s\n' "$((($(now_ms) - started_ms) / 100))e-1" "$*"; }
# A chaos step whose pactl fails says so and the soak goes on: the agent is
# what is on trial.
pactl_quiet() { pactl "$@" >/dev/null || log "(pactl $* failed)"; }
module_of() {  # NAME: the module that made the sink or source NAME
  pactl list short modules | awk -v name="$1" '{for (i = 3; i <= NF; i++) if ($i == "sink_name=" name || $i == "source_name=" name) print $1}'
}
# Sets $drawn to a random whole number in [$1, $2] from the seeded sequence
# (in this shell: a command substitution would draw from a copy of it).
draw() { drawn=$(($1 + RANDOM % ($2 - $1 + 1))); }
# Sleeps $1 ms, but no longer than $limit_ms.
hold() {
  local ms=$(($1 < limit_ms ? $1 : limit_ms))
  sleep "$((ms / 1000)).$(printf '%03d' $((ms % 1000)))"
}

# One chaos step; what it holds (a suspended sink, a paused agent, an unread
# output) lasts $limit_ms at most. Every step draws the same two numbers
# whatever the state, so that a seed gives the same schedule however the
# server answers.
chaos_step() {
  local action param
  draw 0 7
  action=$drawn
  draw 0 999
  param=$drawn
  case $action in
    0)
      local sink=mirevo_speakers
      if $headphones_plugged && [[ $(pactl get-default-sink) == mirevo_speakers ]]; then
        sink=mirevo_headphones
      fi
      log "default output -> $sink"
      pactl_quiet set-default-sink "$sink"
      ;;
    1)
      if $headphones_plugged; then
        log "headphones unplugged"
        pactl_quiet unload-module "$(module_of mirevo_headphones)"
        headphones_plugged=false
      else
        log "headphones plugged in"
        pactl_quiet load-module module-null-sink sink_name=mirevo_headphones norewinds=1 \
          sink_properties=device.description=Mirevo_Headphones
        headphones_plugged=true
        play_tone mirevo_headphones 880 $((seconds + 120))
      fi
      ;;
    2)
      if $mic2_plugged; then
        log "second microphone unplugged"
        pactl_quiet unload-module "$(module_of mirevo_mic2)"
        mic2_plugged=false
      else
        log "second microphone plugged in"
        pactl_quiet load-module module-remap-source source_name=mirevo_mic2 \
          master=mirevo_mic2_line.monitor source_properties=device.description=Mirevo_Mic2
        mic2_plugged=true
      fi
      ;;
    3)
      local source=mirevo_mic
      if $mic2_plugged && [[ $(pactl get-default-source) == mirevo_mic ]]; then
        source=mirevo_mic2
      fi
      log "default microphone -> $source"
      pactl_quiet set-default-source "$source"
      ;;
    4)
      local sink
      sink=$(pactl get-default-sink)
      local hold_ms=$((500 + param * 2))
      log "sink $sink suspended for $hold_ms ms"
      pactl_quiet suspend-sink "$sink" 1
      hold "$hold_ms"
      pactl_quiet suspend-sink "$sink" 0
      ;;
    5)
      log "server restarted"
      stop_tones
      tone_groups=()
      local down_ms back=true
      down_ms=$(now_ms)
      "$root/scripts/$server_script" stop "$dir/server" || true
      # Not on the agent's command pipe (fd 3): a daemon holding it open
      # would keep the agent from seeing the end of its input.
      "$root/scripts/$server_script" start "$dir/server" >/dev/null 3>&- || back=false
      $back || log "the server did not start again"
      if ! $back || (($(now_ms) - down_ms >= reconnect_ms - 1000)); then
        await_failure "$down_ms"
        [[ -n $server_lost_ms ]] && return
      fi
      headphones_plugged=true
      mic2_plugged=true
      play_tones
      ;;
    6)
      local hold_ms=$((200 + param * 28 / 10))
      log "agent paused for $hold_ms ms"
      kill -STOP "$agent_pid"
      hold "$hold_ms"
      kill -CONT "$agent_pid"
      ;;
    7)
      local hold_ms=$((3000 + param * 17))
      log "output not read for $hold_ms ms"
      kill -STOP "$reader_pid"
      hold "$hold_ms"
      kill -CONT "$reader_pid"
      ;;
  esac
}

# A server that is not back within the agent's window (ServerRecording::
# kReconnectSeconds) ends the recording with `failed`, as it must: when the
# soak could not bring its server back in time, it waits for that failure
# and, once it came, checks it (its time, and that each source's audio
# reached the loss) in place of the stop. Sets server_lost_ms (when the server
# went) and failed_ms (when the failure was read), both -1 until then.
reconnect_ms=10000
server_lost_ms=
failed_ms=-1
await_failure() {  # DOWN_MS
  local gone_ms
  gone_ms=$(now_ms)
  while (($(now_ms) - gone_ms < reconnect_ms + 3000)); do
    if grep -q '"sessionId":"soak","type":"failed"' "$dir/events"; then
      failed_ms=$(now_ms)
      server_lost_ms=$1
      server_gone_ms=$gone_ms
      log "the agent ended the recording with failed"
      return
    fi
    sleep 0.05
  done
}

end_ms=$((started_ms + seconds * 1000))
if $chaos; then
  RANDOM=$seed
  quiet_from_ms=$((end_ms - 10000))
  steps=0
  while true; do
    draw 2000 6000
    pause_ms=$drawn
    # Room for the step after the pause: a restart takes a few seconds.
    limit_ms=$((quiet_from_ms - $(now_ms) - pause_ms))
    ((limit_ms >= 6000)) || break
    sleep "$((pause_ms / 1000)).$(printf '%03d' $((pause_ms % 1000)))"
    chaos_step
    steps=$((steps + 1))
    [[ -z $server_lost_ms ]] || break
    kill -0 "$agent_pid" 2>/dev/null || { log "the agent exited"; break; }
  done
  if [[ -z $server_lost_ms ]]; then
    log "$steps chaos steps; quiet until the stop"
  else
    log "$steps chaos steps; the server was lost, nothing to stop"
  fi
fi
answered_ms=-1
if [[ -z $server_lost_ms ]]; then
  while (($(now_ms) < end_ms)); do sleep 1; done
  stop_sent_ms=$(now_ms)
  # In a subshell: should the agent have gone, the broken pipe ends that alone.
  (echo '{"type":"stop","sessionId":"soak"}' >&3) 2>/dev/null || log "the agent no longer reads its input"
  while (($(now_ms) - stop_sent_ms < 30000)); do
    if grep -q '"sessionId":"soak","type":"completed"' "$dir/events"; then
      answered_ms=$(($(now_ms) - stop_sent_ms))
      break
    fi
    sleep 0.05
  done
else
  stop_sent_ms=$(now_ms)
fi
exec 3>&-
wait "$agent_pid" || true
agent_pid=
wait "$reader_pid" || true
reader_pid=
wait "$sampler_pid" 2>/dev/null || true
sampler_pid=

if [[ -s $dir/agent.err ]]; then
  echo "the agent's stderr ($(wc -c <"$dir/agent.err") bytes), its start:"
  head -c 4000 "$dir/agent.err"
  echo
fi
lost=(-1 -1 -1)
if [[ -n $server_lost_ms ]]; then
  lost=($((server_lost_ms - started_ms)) $((server_gone_ms - started_ms)) $((failed_ms - started_ms)))
fi
python3 - "$dir/events" "$dir/memory" "$seconds" "$(wc -c <"$dir/agent.err")" "$chaos" \
  "$((stop_sent_ms - started_ms))" "$answered_ms" "${seed:-none}" "${drift:-none}" "${lost[@]}" \
  "$reconnect_ms" <<'PY'
import array, base64, json, sys

(events_path, memory_path, seconds, stderr_bytes, chaos, stop_at_ms, answered_ms,
 seed, drift, lost_at_ms, gone_at_ms, failed_at_ms, reconnect_ms) = sys.argv[1:]
seconds, stderr_bytes = int(seconds), int(stderr_bytes)
chaos, stop_at_ms, answered_ms = chaos == "true", int(stop_at_ms), int(answered_ms)
lost_at_ms, gone_at_ms = int(lost_at_ms), int(gone_at_ms)
failed_at_ms, reconnect_ms = int(failed_at_ms), int(reconnect_ms)
server_lost = lost_at_ms >= 0
# Where each source's audio must reach: the stop, or when the server went
# (what was read before the loss is delivered before the failure).
due_ms = lost_at_ms if server_lost else stop_at_ms
chunks = {"microphone": [], "system": []}
other = {}
for line in open(events_path, "rb"):
    event = json.loads(line)
    kind = event["type"]
    if kind == "audio_chunk":
        chunks[event["source"]].append(event)
    else:
        other[kind] = other.get(kind, 0) + 1

if server_lost:
    # The agent tried again for its whole window after the server went (it
    # cannot have noticed before), and told no later than a window after the
    # soak gave the server up (a server that answered for a moment during
    # its failed start opens a window of its own), with a margin for a
    # loaded machine.
    failed_in_window = lost_at_ms + reconnect_ms - 500 <= failed_at_ms <= gone_at_ms + reconnect_ms + 3000
    print(f"server lost at {lost_at_ms} ms, given up at {gone_at_ms} ms; failed read at "
          f"{failed_at_ms} ms (in the window: {failed_in_window})")
    ok = (other.get("failed", 0) == 1 and other.get("completed", 0) == 0 and stderr_bytes == 0
          and failed_in_window)
else:
    ok = other.get("failed", 0) == 0 and other.get("completed", 0) == 1 and stderr_bytes == 0
for source, list_ in chunks.items():
    samples = sum(len(base64.b64decode(c["dataBase64"])) // 2 for c in list_)
    sequences_ok = [c["sequence"] for c in list_] == list(range(len(list_)))
    short = sum(1 for c in list_[:-1] if c["durationMs"] != 1000)
    jumps = [b["startedAtMs"] - (a["startedAtMs"] + a["durationMs"]) for a, b in zip(list_, list_[1:])]
    gaps = [j for j in jumps if j > 100]
    overlaps = [j for j in jumps if j < -2]
    end = list_[-1]["startedAtMs"] + list_[-1]["durationMs"] if list_ else 0
    print(f"{source}: chunks={len(list_)} samples={samples} ({samples / 48000:.2f} s) "
          f"sequences_contiguous={sequences_ok} short_chunks={short} gaps={len(gaps)} "
          f"gap_ms={sum(gaps)} overlaps={overlaps} ends_at_ms={end} due_at_ms={due_ms}")
    if chaos:
        ok = ok and sequences_ok and not overlaps and bool(list_) and end >= due_ms - 1500
        continue
    breaks = short + len(gaps) + sum(1 for j in jumps if j < -100)
    for a, b in zip(list_, list_[1:]):
        jump = b["startedAtMs"] - (a["startedAtMs"] + a["durationMs"])
        if a["durationMs"] != 1000 or abs(jump) > 100:
            print(f"  break after sequence {a['sequence']}: startedAtMs={a['startedAtMs']} "
                  f"durationMs={a['durationMs']} next starts {jump:+d} ms from its end")
    ok = ok and sequences_ok and breaks == 0 and samples >= 48000 * (seconds - 5)

memory = [tuple(map(int, line.split())) for line in open(memory_path) if line.strip()]
peak = max((rss for _, rss in memory), default=0)
if chaos:
    print(f"memory: peak_kib={peak} first_kib={memory[0][1] if memory else 0} "
          f"last_kib={memory[-1][1] if memory else 0}")
    ok = ok and 0 < peak <= 48 * 1024
    if not server_lost:
        print(f"stop answered in {answered_ms} ms")
        ok = ok and 0 <= answered_ms <= 5000
else:
    after_minute = [rss for t, rss in memory if t >= 60000]
    base = after_minute[0] if after_minute else 0
    growth = max(after_minute, default=0) - base
    print(f"memory: rss_at_60s_kib={base} peak_after_60s_kib={max(after_minute, default=0)} "
          f"growth_kib={growth} first_kib={memory[0][1] if memory else 0} "
          f"last_kib={memory[-1][1] if memory else 0}")
    ok = ok and base > 0 and growth <= 1024

def onsets_ms(list_):
    """Where each burst begins: the first loud sample (a tenth of full scale)
    after at least 50 ms of quiet, found a 5 ms block at a time."""
    found, quiet_ms = [], 0.0
    for chunk in list_:
        samples = array.array("h", base64.b64decode(chunk["dataBase64"]))
        rate = chunk["sampleRate"]
        block = int(rate // 200)
        for start in range(0, len(samples), block):
            piece = samples[start:start + block]
            if max(piece) < 3277 and min(piece) > -3277:
                quiet_ms += len(piece) * 1000.0 / rate
                continue
            for i, value in enumerate(piece):
                if abs(value) >= 3277:
                    if quiet_ms >= 50.0:
                        found.append(chunk["startedAtMs"] + (start + i) * 1000.0 / rate)
                    break
            # Whatever follows the loud sample in this block counts as quiet
            # no more: a burst is shorter than 50 ms.
            quiet_ms = 0.0
    return found

if drift != "none":
    system, microphone = onsets_ms(chunks["system"]), onsets_ms(chunks["microphone"])
    def paired(shift):
        pairs, j = [], 0
        for onset in microphone:
            while j + 1 < len(system) and abs(system[j + 1] - onset + shift) < abs(system[j] - onset + shift):
                j += 1
            if system and abs(onset - shift - system[j]) < 100:
                pairs.append((onset, onset - system[j]))
        return pairs
    early = sorted(o for t, o in paired(0.0) if microphone and t < microphone[0] + 5000)
    constant = early[len(early) // 2] if early else 0.0
    offsets = [(t, o - constant) for t, o in paired(constant)]
    minutes = {}
    for t, o in offsets:
        minutes.setdefault(int(t // 60000), []).append(o)
    line = " ".join(f"{m}m:{sum(v) / len(v):+.2f}" for m, v in sorted(minutes.items()))
    worst = max((abs(o) for _, o in offsets), default=float("inf"))
    apart = sum(1 for _, o in offsets if abs(o) > 2.0)
    print(f"drift {drift} ppm: microphone minus system from {constant:.2f} ms at the start, "
          f"means per minute (ms): {line}")
    print(f"drift: {len(offsets)} bursts in both, {apart} beyond 2 ms, worst {worst:.2f} ms")
    ok = ok and bool(offsets) and apart == 0
print(f"events: {other} stderr_bytes={stderr_bytes}")
mode = f" chaos seed={seed}" if chaos else ""
mode += f" drift={drift}" if drift != "none" else ""
print(f"soak-pulse: {'PASS' if ok else 'FAIL'} seconds={seconds}{mode}")
sys.exit(0 if ok else 1)
PY
