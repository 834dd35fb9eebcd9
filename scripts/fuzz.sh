#!/usr/bin/env bash
# Builds the libFuzzer targets (clang++, AddressSanitizer and
# UndefinedBehaviorSanitizer, in $BUILD_DIR, default build-asan) and runs each
# for RUNS inputs, starting from its seed corpus in fuzz/corpus/<target>.
# New inputs go to a scratch folder, never into the repository; a crashing
# input is kept as build-asan/fuzz-artifacts/<target>-crash-*.
#
#   scripts/fuzz.sh RUNS [SECONDS] [TARGET...]
#
# SECONDS (default: no limit) caps each target's time, so that a smoke run
# stays short. Targets: command_loop append event_writer (default: all).
# Each target's last line reads: fuzz: <target> runs=<n> result=ok|FAILED
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:?usage: scripts/fuzz.sh RUNS [SECONDS] [TARGET...]}
seconds=${2:-0}
shift $(($# >= 2 ? 2 : 1))
targets=("$@")
((${#targets[@]})) || targets=(command_loop append event_writer)

build_dir=${BUILD_DIR:-build-asan}
if [[ ! -f $build_dir/CMakeCache.txt ]]; then
  CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DMIREVO_WERROR=ON \
    -DMIREVO_SANITIZE=address,undefined -DMIREVO_FUZZ=ON \
    -DMIREVO_BUILD_BENCH=OFF -DMIREVO_BUILD_TOOLS=OFF >/dev/null
fi
cmake --build "$build_dir" -j2 --target "${targets[@]/#/fuzz_}" >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
artifacts=$build_dir/fuzz-artifacts
mkdir -p "$artifacts"
failed=0
for target in "${targets[@]}"; do
  mkdir -p "$scratch/$target"
  log=$scratch/$target.log
  status=0
  "$build_dir/fuzz/fuzz_$target" -runs="$runs" -max_total_time="$seconds" \
    -print_final_stats=1 -artifact_prefix="$artifacts/$target-" \
    "$scratch/$target" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  executed=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
  coverage=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1 || true)
  if ((status == 0)); then
    echo "fuzz: $target runs=${executed:-?} ($coverage) result=ok"
  else
    failed=1
    grep -E 'fuzz:|ERROR|SUMMARY|runtime error' "$log" | head -20 || true
    echo "fuzz: $target runs=${executed:-?} result=FAILED (artifacts in $artifacts)"
  fi
done
exit "$failed"
