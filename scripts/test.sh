#!/usr/bin/env bash
# The whole test suite: sets up the machine, then builds and runs every test
# in the plain build and under the sanitizers. Fails on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

for preset in ${UMX_TEST_PRESETS:-dev asan tsan}; do
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
echo "== all tests passed =="
