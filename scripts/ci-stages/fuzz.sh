#!/usr/bin/env bash
# libFuzzer harnesses (clang, AddressSanitizer + UBSan): each harness first
# replays its kept corpus (tests/fuzz/corpus), then fuzzes until 30 seconds
# have passed since it started (new inputs go to a scratch directory, the
# kept corpus is left alone). JOBS harnesses run at once.
# CI's main build (scripts/test.sh) holds the harnesses: then this stage
# reuses that build. Run on its own, or after a plain build, it builds a tree
# of its own holding only the harnesses and the library they link (its
# objects carry the fuzzer's coverage instrumentation).
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=${BUILD_DIR:-build}
if ! grep -qs '^QEZ_BUILD_FUZZERS:BOOL=ON' "$dir/CMakeCache.txt"; then
  dir=build-fuzz
  CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" \
    -DQEZ_BUILD_TESTS=OFF -DQEZ_BUILD_FUZZERS=ON -DQEZ_SANITIZE=address,undefined >/dev/null
fi
mapfile -t fuzzers < "$dir/tests/fuzz/fuzzers.txt"
jobs=${JOBS:-2}
cmake --build "$dir" -j "$jobs" --target "${fuzzers[@]}"
. scripts/sanitizer_env.sh
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# One harness: its replay and 30 seconds of fuzzing. The replay of the
# larger corpora (transforms computed under the sanitizers, programs built
# on a cold cache) takes minutes on a small machine, so the run's own limit
# is generous; an input still gets 60 seconds at most.
fuzz_one() {
  local fuzzer=$1
  mkdir -p "$scratch/$fuzzer"
  # A fixed seed: the same commit then mutates the same inputs in the same
  # order on every CI run, so a failure CI reports comes back when the run is
  # repeated, and a pass does not hang on the luck of a random seed. Random
  # seeds are for the longer fuzzing runs by hand.
  if ! timeout --kill-after=10 900 "$dir/bin/$fuzzer" -seed=1 -max_total_time=30 -timeout=60 -rss_limit_mb=2048 \
      -artifact_prefix="$scratch/" "$scratch/$fuzzer" "tests/fuzz/corpus/$fuzzer" 2>"$scratch/$fuzzer.log"; then
    echo "-- $fuzzer failed" >&2
    tail -n 60 "$scratch/$fuzzer.log" >&2
    return 1
  fi
  echo "-- $fuzzer: $(grep -h "^Done" "$scratch/$fuzzer.log" || echo done)"
}

failed=0
running=()
for fuzzer in "${fuzzers[@]}"; do
  fuzz_one "$fuzzer" &
  running+=($!)
  if [ "${#running[@]}" -ge "$jobs" ]; then
    wait "${running[0]}" || failed=1
    running=("${running[@]:1}")
  fi
done
for pid in "${running[@]}"; do
  wait "$pid" || failed=1
done
exit "$failed"
