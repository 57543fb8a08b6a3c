#!/usr/bin/env bash
# Runs a test program with Oclgrind as the OpenCL platform (the environment
# comes from CTest) and fails when the program fails, when no case ran, or
# when Oclgrind reported anything: an invalid access, a data race, an
# uninitialised value, work-group divergence or an OpenCL API error.
set -u
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$@" >"$log" 2>&1
status=$?
cat "$log"
if [ "$status" -ne 0 ]; then
  echo "oclgrind_run: the program ended with status $status"
  exit "$status"
fi
if ! grep -qE '^\[  PASSED  \] [1-9][0-9]* test' "$log"; then
  echo "oclgrind_run: no case ran"
  exit 1
fi
reports='^[[:space:]]*Kernel: |Oclgrind - OpenCL runtime error|[Dd]ata race|[Uu]ninitiali[sz]ed|divergence|^Invalid (read|write)'
if grep -qE "$reports" "$log"; then
  echo "oclgrind_run: Oclgrind reported $(grep -cE "$reports" "$log") line(s) above"
  exit 1
fi
exit 0
