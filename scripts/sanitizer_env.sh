# Run-time settings of AddressSanitizer, LeakSanitizer and UBSan for the
# tests and the fuzz harnesses (sourced by scripts/test.sh and the CI stages;
# a variable already set is kept). Without sanitizers they change nothing.
# The OpenCL driver's libraries use dynamic thread-local storage that
# LeakSanitizer cannot walk: leave TLS out of its roots and suppress the
# loader's own blocks (tests/sanitizer/lsan.supp).
export LSAN_OPTIONS=${LSAN_OPTIONS:-use_tls=0:suppressions=$PWD/tests/sanitizer/lsan.supp}
# Undefined behaviour stops the run that meets it, as memory errors do.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
# PoCL's compiler (LLVM) gives each thread that builds a program an alternate
# signal stack of its own allocation; AddressSanitizer, which unmaps a
# thread's alternate stack when the thread ends, must leave those alone, so
# it installs none of its own.
export ASAN_OPTIONS=${ASAN_OPTIONS:-use_sigaltstack=0}
