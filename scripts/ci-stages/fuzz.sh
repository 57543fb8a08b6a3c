#!/usr/bin/env bash
# libFuzzer harnesses (clang, AddressSanitizer + UBSan): fuzzes each harness
# for 30 seconds from its kept corpus (tests/fuzz/corpus; new inputs go to a
# scratch directory, the kept corpus is left alone).
# CI's main build (scripts/test.sh) holds the harnesses, and its test run has
# replayed the corpus already: then this stage reuses that build. Run on its
# own, or after a plain build, it builds a tree of its own holding only the
# harnesses and the library they link (its objects carry the fuzzer's
# coverage instrumentation) and replays the corpus there first.
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=${BUILD_DIR:-build}
replay=
if ! grep -qs '^QEZ_BUILD_FUZZERS:BOOL=ON' "$dir/CMakeCache.txt"; then
  dir=build-fuzz
  replay=1
  CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" \
    -DQEZ_BUILD_TESTS=OFF -DQEZ_BUILD_FUZZERS=ON -DQEZ_SANITIZE=address,undefined >/dev/null
fi
mapfile -t fuzzers < "$dir/tests/fuzz/fuzzers.txt"
cmake --build "$dir" -j "${JOBS:-2}" --target "${fuzzers[@]}"
. scripts/sanitizer_env.sh
if [ -n "$replay" ]; then
  ctest --test-dir "$dir" -R '^fuzz_replay\.' --output-on-failure --timeout 900
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for fuzzer in "${fuzzers[@]}"; do
  echo "-- fuzzing $fuzzer for 30 s"
  mkdir -p "$scratch/$fuzzer"
  # A fixed seed: the same commit then mutates the same inputs in the same
  # order on every CI run, so a failure CI reports comes back when the run is
  # repeated, and a pass does not hang on the luck of a random seed. Random
  # seeds are for the longer fuzzing runs by hand.
  timeout --kill-after=10 120 "$dir/bin/$fuzzer" -seed=1 -max_total_time=30 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$scratch/" "$scratch/$fuzzer" "tests/fuzz/corpus/$fuzzer" 2>"$scratch/$fuzzer.log" || {
    tail -n 60 "$scratch/$fuzzer.log" >&2
    exit 1
  }
  grep -h "^Done" "$scratch/$fuzzer.log" || true
done
