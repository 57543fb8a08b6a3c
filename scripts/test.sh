#!/usr/bin/env bash
# Builds everything and runs every test that CI runs (long cases excluded),
# then each extra stage in scripts/ci-stages/ (in name order), which may
# build other configurations of the tree.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
jobs=${JOBS:-$(nproc)}
export JOBS=$jobs
# Line tables are all that stack traces of failures and sanitizer reports
# need; full debug information costs a quarter of the build time.
line_tables="-O2 -g1 -DNDEBUG"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$line_tables" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=$line_tables" ${CMAKE_ARGS:-}
cmake --build "$build_dir" -j "$jobs"
# Sanitizer builds: the OpenCL driver's libraries use dynamic thread-local
# storage that LeakSanitizer cannot walk; leave TLS out of its roots and
# suppress the loader's own blocks. Without sanitizers this changes nothing.
export LSAN_OPTIONS=${LSAN_OPTIONS:-use_tls=0:suppressions=$PWD/tests/sanitizer/lsan.supp}
# Undefined behaviour stops the run that meets it, as memory errors do.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
# PoCL's compiler (LLVM) gives each thread that builds a program an alternate
# signal stack of its own allocation; AddressSanitizer, which unmaps a
# thread's alternate stack when the thread ends, must leave those alone, so
# it installs none of its own.
export ASAN_OPTIONS=${ASAN_OPTIONS:-use_sigaltstack=0}
ctest --test-dir "$build_dir" -j "$jobs" -LE "long|oclgrind" --output-on-failure --timeout 600
# Runs under Oclgrind (label oclgrind). About one process in forty still
# dies in Oclgrind's own teardown at exit, after every case has passed (heap
# corruption, untraced): an entry that fails gets one more run, and a report
# or a wrong result fails both.
ctest --test-dir "$build_dir" -j "$jobs" -L oclgrind --repeat until-pass:2 --output-on-failure --timeout 600
if [ -z "${SKIP_CI_STAGES:-}" ]; then
  for stage in scripts/ci-stages/*.sh; do
    [ -e "$stage" ] || continue
    echo "== stage ${stage##*/}"
    BUILD_DIR=$build_dir bash "$stage"
  done
fi
