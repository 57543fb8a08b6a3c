#!/usr/bin/env bash
# Builds the library and runs the README's main job.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "main job: no end-to-end GPU transform yet; it arrives with the first GPU backend."
