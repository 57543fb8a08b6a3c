#!/usr/bin/env bash
# Installs a build into a temporary prefix, builds this folder's program
# against it with find_package(QezSyclDft) and runs it. Fails when the
# program fails or when the process loads any library from the build tree.
#   check_install.sh <build dir> [cmake arguments for the program's build...]
set -euo pipefail
build_dir=$(cd "$1" && pwd -P)
shift
source_dir=$(cd "$(dirname "$0")" && pwd -P)
work_dir=$(mktemp -d)
trap 'rm -rf "$work_dir"' EXIT
prefix=$work_dir/prefix

cmake --install "$build_dir" --prefix "$prefix" >/dev/null
cmake -S "$source_dir" -B "$work_dir/build" -DCMAKE_PREFIX_PATH="$prefix" "$@" >/dev/null
cmake --build "$work_dir/build" >/dev/null

# The loader reports every library it initialises, opened at start or later.
LD_DEBUG=libs LD_DEBUG_OUTPUT="$work_dir/loader" "$work_dir/build/install_consumer"
loaded=$(cat "$work_dir"/loader.* | sed -n 's/.*calling init: //p' | sort -u)
status=0
if grep -F "$build_dir/" <<<"$loaded"; then
  echo "the installed library loaded the above from the build tree"
  status=1
fi
real_prefix=$(cd "$prefix" && pwd -P)
for library in libqez_sycl_dft.so libqez_vorp_thread.so.3 libqez_gpu_profile.so; do
  if ! grep -q -e "^$prefix/.*/$library\$" -e "^$real_prefix/.*/$library\$" <<<"$loaded"; then
    echo "$library was not loaded from the install prefix"
    status=1
  fi
done
exit $status
