#!/usr/bin/env bash
# The whole test suite: sets up the machine, then builds and runs every test
# in the plain build, under the sanitizers and on big-endian PowerPC under
# qemu. Fails on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

for preset in ${UMX_TEST_PRESETS:-dev asan tsan ppc64}; do
  echo "== $preset =="
  if [ "$preset" = ppc64 ]; then
    scripts/setup.sh g++-powerpc64-linux-gnu qemu-user googletest
  fi
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
echo "== all tests passed =="
