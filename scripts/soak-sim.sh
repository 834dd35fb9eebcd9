#!/usr/bin/env bash
# The accelerated soak on the simulated platform: MINUTES (120) of audio from
# both sources through one session, checked and summed up by bench/soak.
# Builds it in $BUILD_DIR (build) first. The last line reads:
# soak-sim: PASS|FAIL minutes=<n>
#
#   scripts/soak-sim.sh [MINUTES]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
[[ -f $build_dir/CMakeCache.txt ]] || cmake -S . -B "$build_dir" -G Ninja -DMIREVO_WERROR=ON >/dev/null
cmake --build "$build_dir" -j2 --target soak_sim >/dev/null
time "$build_dir/bench/soak/soak_sim" "${1:-120}"
