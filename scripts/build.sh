#!/usr/bin/env bash
# Configures and builds into build/ (or the folder given as $BUILD_DIR): a
# Release build with warnings as errors, as packagers and CI build it. Further
# CMake arguments are passed on and win (-DCMAKE_BUILD_TYPE=Debug, say).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMIREVO_WERROR=ON "$@" >/dev/null
cmake --build "$build_dir"
