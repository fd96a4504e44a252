#!/usr/bin/env bash
# Builds the contract stubs (tests/product/stubs) and puts libQiUtils.so.1
# and libRkJobClient.so.1 alone into a folder, as a product installs them.
# Usage: build_stubs.sh <source dir> <work dir> <output folder>
set -euo pipefail
source_dir=$1
work=$2
out=$3
cmake -S "$source_dir/tests/product/stubs" -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DUMX_PLATFORM_HEADERS="$source_dir/platform" >/dev/null
cmake --build "$work" >"$work/build.log" 2>&1 || { cat "$work/build.log" >&2; exit 1; }
mkdir -p "$out"
for lib in QiUtils RkJobClient; do
  cp -L "$work/lib$lib.so.1" "$out/lib$lib.so.1"
done
