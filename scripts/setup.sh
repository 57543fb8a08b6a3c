#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the examples need.
set -euo pipefail
packages="cmake ninja-build g++ libgtest-dev libgmock-dev ocl-icd-opencl-dev opencl-c-headers
          pocl-opencl-icd libfftw3-dev libyaml-dev binutils"
sudo_cmd=""
if [ "$(id -u)" != 0 ]; then sudo_cmd="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo_cmd apt-get update -qq
$sudo_cmd apt-get install -y -qq $packages >/dev/null
