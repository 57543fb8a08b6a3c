#!/usr/bin/env bash
# Builds everything and runs every test that CI runs (long cases excluded),
# then each extra stage in scripts/ci-stages/ (in name order), which may
# reuse that build or build other configurations of the tree.
#
# The build is CI's: clang with AddressSanitizer + UBSan, the libFuzzer
# harnesses in the same tree, so that one instrumented library serves the
# test suite, the fuzz corpus replays (CTest entries) and the fuzz stage.
# PLAIN_BUILD=1 builds without sanitizers or harnesses, with the default
# compiler (the fuzz stage then builds its own tree).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
jobs=${JOBS:-$(nproc)}
export JOBS=$jobs
# Line tables are all that stack traces of failures and sanitizer reports
# need; full debug information costs a quarter of the build time.
line_tables="-O2 -g1 -DNDEBUG"
config=()
if [ -z "${PLAIN_BUILD:-}" ]; then
  # The test executables' own sources at -O0 take half the time to
  # compile; the library, the shared test support and the suites of
  # multi-gigabyte transforms (qez_gtest's LOCK) stay at -O2.
  config=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
          -DQEZ_SANITIZE=address,undefined -DQEZ_BUILD_FUZZERS=ON -DQEZ_TEST_COMPILE_OPTIONS=-O0)
fi
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$line_tables" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=$line_tables" \
  "${config[@]}" ${CMAKE_ARGS:-}
cmake --build "$build_dir" -j "$jobs"
# shellcheck source=scripts/sanitizer_env.sh
. scripts/sanitizer_env.sh
# PoCL builds the OpenCL programs without its front end's optimisation: a
# cold program cache then builds in a third to a quarter of the time. The
# suites of multi-gigabyte transforms, which such kernels would run at half
# the speed, keep it (qez_gtest's LOCK). Oclgrind's entries build
# unoptimised anyway.
export POCL_EXTRA_BUILD_FLAGS=${POCL_EXTRA_BUILD_FLAGS--cl-opt-disable}
# The fuzz stage's runs replay each harness's kept corpus before they mutate
# it; when that stage follows on this build, it is the one replay.
replays=()
if [ -z "${SKIP_CI_STAGES:-}" ] && grep -qs '^QEZ_BUILD_FUZZERS:BOOL=ON' "$build_dir/CMakeCache.txt"; then
  replays=(-E '^fuzz_replay\.')
fi
ctest --test-dir "$build_dir" -j "$jobs" -LE "long|oclgrind" "${replays[@]}" --output-on-failure --timeout 600
# Runs under Oclgrind (label oclgrind).
ctest --test-dir "$build_dir" -j "$jobs" -L oclgrind --output-on-failure --timeout 600
if [ -z "${SKIP_CI_STAGES:-}" ]; then
  for stage in scripts/ci-stages/*.sh; do
    [ -e "$stage" ] || continue
    echo "== stage ${stage##*/}"
    BUILD_DIR=$build_dir bash "$stage"
  done
fi
