#!/usr/bin/env bash
# The real-daemon tests under load: runs the `pulse` label (every test against
# a private PulseAudio daemon, and its copy against a private PipeWire) PASSES
# times in a row (default 5) while two busy loops hold two cores. A test that
# fails only sometimes shows here. Needs a build (scripts/build.sh).
#
#   scripts/stress-tests.sh [PASSES] [BUILD_DIR]
#
# Each pass prints its failures and the load; the last line reads
# stress-tests: PASS|FAIL passes=N failed_passes=F failed_tests=T.
set -euo pipefail
cd "$(dirname "$0")/.."
passes=${1:-5}
build_dir=${2:-build}
[[ $passes =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [PASSES] [BUILD_DIR]" >&2; exit 2; }
[[ -f $build_dir/CTestTestfile.cmake ]] || {
  echo "stress-tests: no tests in $build_dir (run scripts/build.sh first)" >&2
  exit 1
}

loops=()
cleanup() {
  for pid in "${loops[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM
for _ in 1 2; do
  sh -c 'while :; do :; done' &
  loops+=($!)
done

failed_passes=0
failed_tests=0
log=$(mktemp)
for ((pass = 1; pass <= passes; pass++)); do
  echo "== pass $pass of $passes ($(date -u +%H:%M:%S), load $(cut -d ' ' -f 1-3 /proc/loadavg 2>/dev/null || uptime))"
  if ctest --test-dir "$build_dir" -L pulse -j2 --output-on-failure >"$log" 2>&1; then
    grep -E '^[0-9]+% tests passed' "$log" || true
  else
    failed_passes=$((failed_passes + 1))
    count=$(sed -n '/The following tests FAILED:/,$p' "$log" | grep -cE '^[[:space:]]+[0-9]+ - ' || true)
    failed_tests=$((failed_tests + count))
    cp "$log" "$build_dir/stress-pass-$pass.log"
    sed -n '/The following tests FAILED:/,$p' "$log"
    echo "(the whole output of pass $pass: $build_dir/stress-pass-$pass.log)"
  fi
done
rm -f "$log"
verdict=PASS
((failed_passes == 0)) || verdict=FAIL
echo "stress-tests: $verdict passes=$passes failed_passes=$failed_passes failed_tests=$failed_tests"
[[ $verdict == PASS ]]
