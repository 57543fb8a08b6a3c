#!/usr/bin/env bash
# libFuzzer harnesses (clang, AddressSanitizer + UBSan), in a build of their
# own that holds only them and the library they link (its objects carry the
# fuzzer's coverage instrumentation): replays the kept corpus
# (tests/fuzz/corpus) as a regression test, then fuzzes each harness for 30
# seconds from it (new inputs go to a scratch directory; the kept corpus is
# left alone).
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" \
  -DQEZ_BUILD_TESTS=OFF -DQEZ_BUILD_FUZZERS=ON -DQEZ_SANITIZE=address,undefined >/dev/null
mapfile -t fuzzers < "$dir/tests/fuzz/fuzzers.txt"
cmake --build "$dir" -j "${JOBS:-2}" --target "${fuzzers[@]}"
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
# As in scripts/test.sh: the OpenCL driver's dynamic TLS and alternate signal
# stacks (see there).
export LSAN_OPTIONS=${LSAN_OPTIONS:-use_tls=0:suppressions=$PWD/tests/sanitizer/lsan.supp}
export ASAN_OPTIONS=${ASAN_OPTIONS:-use_sigaltstack=0}
ctest --test-dir "$dir" --output-on-failure --timeout 900
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for fuzzer in "${fuzzers[@]}"; do
  echo "-- fuzzing $fuzzer for 30 s"
  mkdir -p "$scratch/$fuzzer"
  timeout --kill-after=10 120 "$dir/bin/$fuzzer" -max_total_time=30 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$scratch/" "$scratch/$fuzzer" "tests/fuzz/corpus/$fuzzer" 2>"$scratch/$fuzzer.log" || {
    tail -n 60 "$scratch/$fuzzer.log" >&2
    exit 1
  }
  grep -h "^Done" "$scratch/$fuzzer.log" || true
done
