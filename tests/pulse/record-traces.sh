#!/usr/bin/env bash
# Records the timing traces the replay tests read (tests/pulse/traces), on a
# private server: bursts play into the speakers, and the speakers' monitor and
# a remap source of it (a microphone that hears the same sound at the same
# moment) are recorded through the record stream's own plumbing by
# pulse_trace_record. Each trace is cut to its first TRACE_LINES lines (default
# 1200), which keeps it to tens of kilobytes.
#
#   tests/pulse/record-traces.sh SERVER SCENARIO [TOOL]
#
# SERVER is pulseaudio or pipewire; SCENARIO one of
#   quiet     12 s on an idle machine
#   load      12 s with two busy loops running for 10 s of it (PipeWire then
#             misses cycles)
#   suspend   the speakers suspended for a second, twice
#   restart   the server killed and started again on the same socket
#   drift     (pulseaudio only) 60 s of a microphone whose clock runs 300 ppm
#             fast: a pipe source fed by mirevo-drifting-writer, which plays
#             the same bursts into the speakers at the same real moments
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
server=$1
scenario=$2
tool=${3:-$root/build/tests/pulse/pulse_trace_record}
case $server in
  pulseaudio) server_script=$root/scripts/private-pulse.sh ;;
  pipewire) server_script=$root/scripts/private-pipewire.sh ;;
  *) echo "record-traces: SERVER is pulseaudio or pipewire" >&2; exit 2 ;;
esac
out=$root/tests/pulse/traces/$server-$scenario.trace
lines=${TRACE_LINES:-1200}

dir=$(mktemp -d)
burst_group=
busy=()
stop_bursts() { [[ -n $burst_group ]] && kill -- "-$burst_group" 2>/dev/null || true; burst_group=; }
cleanup() {
  stop_bursts
  for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$server_script" stop "$dir" || true
  rm -rf "$dir"
}
trap cleanup EXIT

start_server() {
  export "$("$server_script" start "$dir")"
  pactl load-module module-remap-source master=mirevo_speakers.monitor \
    source_name=mirevo_speakers_heard >/dev/null
}

# A 2 ms burst of 3 kHz every 200 ms, as the alignment test plays.
start_bursts() {
  setsid sh -c "sox -n -t raw -r 48000 -c 1 -e float -b 32 - synth 0.002 sine 3000 vol 0.5 \
    pad 0 0.198 repeat 999 | pacat --device=mirevo_speakers --format=float32le --rate=48000 \
    --channels=1 --latency-msec=50" 2>/dev/null &
  burst_group=$!
}

start_server
if [[ $scenario == drift ]]; then
  writer=${WRITER:-$root/build/tests/pulse/mirevo-drifting-writer}
  pactl load-module module-pipe-source source_name=mirevo_drifting_mic file="$dir/mic.fifo" \
    format=s16le rate=48000 channels=1 >/dev/null
  "$tool" "$server" 60 mirevo_speakers.monitor mirevo_drifting_mic >"$dir/trace" &
  recorder=$!
  "$writer" --fifo "$dir/mic.fifo" --ppm 300 --speakers mirevo_speakers --wait-for "$dir/go" \
    --seconds 62 >/dev/null 2>&1 &
  busy+=($!)
  sleep 1
  touch "$dir/go"
  wait "$recorder"
  lines=${TRACE_LINES:-2000}
else
start_bursts
sleep 0.5
seconds=12
[[ $scenario == restart ]] && seconds=14
"$tool" "$server" "$seconds" mirevo_speakers.monitor mirevo_speakers_heard >"$dir/trace" &
recorder=$!
case $scenario in
  quiet) ;;
  load)
    sleep 1
    yes >/dev/null &
    busy+=($!)
    yes >/dev/null &
    busy+=($!)
    sleep 10
    for pid in "${busy[@]}"; do kill "$pid"; done
    busy=()
    ;;
  suspend)
    for _ in 1 2; do
      sleep 3
      pactl suspend-sink mirevo_speakers 1
      sleep 1
      pactl suspend-sink mirevo_speakers 0
    done
    ;;
  restart)
    sleep 4
    stop_bursts
    "$server_script" stop "$dir"
    sleep 1
    start_server
    start_bursts
    ;;
  *) echo "record-traces: no scenario $scenario" >&2; exit 2 ;;
esac
wait "$recorder"
fi
mkdir -p "$(dirname "$out")"
{
  echo "# Recorded by tests/pulse/record-traces.sh $server $scenario on $(date -u +%F)."
  head -n "$lines" "$dir/trace"
} >"$out"
echo "$out: $(wc -l <"$out") lines, $(wc -c <"$out") bytes"
