#!/usr/bin/env bash
# Configures and builds into build/ (or the folder given as $BUILD_DIR): a
# Release build with warnings as errors, as packagers and CI build it. Further
# CMake arguments are passed on and win (-DCMAKE_BUILD_TYPE=Debug, say).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
platform_args=()
# On macOS: the agent and the inspector only. The tests' and benchmarks'
# helpers use Linux calls (memfd_create, pipe2, /proc) and do not build there.
if [[ "$(uname -s)" == Darwin ]]; then
  platform_args=(-DMIREVO_BUILD_TESTS=OFF -DMIREVO_BUILD_BENCH=OFF)
fi
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMIREVO_WERROR=ON \
  "${platform_args[@]}" "$@" >/dev/null
cmake --build "$build_dir"
