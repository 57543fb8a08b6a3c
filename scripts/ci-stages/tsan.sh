#!/usr/bin/env bash
# The concurrency test under ThreadSanitizer, in a build of its own that
# holds only that test and what it links. It runs clean without
# suppressions (PoCL and the ICD loader are not instrumented; their locks are
# seen through the pthread interceptors). Its first-use cases run the
# executable again (threadsafe death tests), so that a registry's or cache's
# first use happens in a fresh process on several threads at once; the
# children inherit TSAN_OPTIONS, and a race they meet fails their case.
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=build-tsan
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" -DQEZ_SANITIZE=thread >/dev/null
cmake --build "$dir" -j "${JOBS:-2}" --target concurrency_test
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
timeout --kill-after=10 1200 "$dir/bin/concurrency_test"
