#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the examples need
# (the list CI installs).
set -euo pipefail
exec "$(dirname "$0")/../.ci/run" --install-only
