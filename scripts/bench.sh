#!/usr/bin/env bash
# Builds the optimised library and runs the benchmarks; the last table gives
# each case's ratio to its baseline and the limit it is held to.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh libbenchmark-dev
cmake --preset release >/dev/null
cmake --build --preset release --target umx-bench
exec build/release/bench/umx-bench "$@"
