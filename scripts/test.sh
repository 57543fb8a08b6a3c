#!/usr/bin/env bash
# Builds everything and runs every test that CI runs (long cases excluded).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
jobs=${JOBS:-$(nproc)}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_ARGS:-}
cmake --build "$build_dir" -j "$jobs"
ctest --test-dir "$build_dir" -j "$jobs" -LE long --output-on-failure --timeout 600
