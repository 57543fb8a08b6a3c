#!/usr/bin/env bash
# Builds the library and runs the README's main job: forward and backward
# transforms of complex 1D, 2D, 3D and real data on USM and on buffers,
# checked against a direct DFT. Installs nothing (scripts/setup.sh does).
# Pass --device=gpu or --device=cpu to pick the device (default: the GPU
# when a GPU backend accepts the transform, else the CPU device).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
jobs=${JOBS:-$(nproc)}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" -j "$jobs" --target main_job
"$build_dir/bin/main_job" "$@"
