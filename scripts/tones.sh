# Sourced by the scripts that record a private PulseAudio daemon: sine tones
# played into its sinks, each pipeline in a process group of its own so that
# stop_tones ends sox and pacat together. fd 3 is closed in the pipeline: the
# callers keep the agent's command pipe there, and a tone must not hold it open.
tone_groups=()

play_tone() {  # SINK HERTZ SECONDS
  setsid sh -c "sox -n -t raw -r 48000 -c 1 -e float -b 32 - synth $3 sine $2 vol 0.5 \
    | pacat --device=$1 --format=float32le --rate=48000 --channels=1 --latency-msec=50" \
    2>/dev/null 3>&- &
  tone_groups+=($!)
}

stop_tones() {
  for group in "${tone_groups[@]}"; do kill -- "-$group" 2>/dev/null || true; done
}
