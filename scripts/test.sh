#!/usr/bin/env bash
# The whole test suite: sets up the machine, then builds and runs every test
# in the plain build (the binary interface against its baseline among them),
# under the sanitizers, with clang's thread-safety analysis, with libstdc++'s
# older std::string ABI and on big-endian PowerPC under qemu; then valgrind's
# memcheck, formatting, clang-tidy and shellcheck, and a bounded run of each
# fuzzer. Fails on the first failure. UMX_TEST_PRESETS="dev asan" runs only
# the presets named.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

# ThreadSanitizer cannot start under the wider address randomisation of some
# kernels ("unexpected memory mapping"), so its binaries run with
# randomisation off where the kernel allows that. The build runs them too, to
# list their tests.
without_aslr() {
  if setarch "$(uname -m)" -R true 2>/dev/null; then
    setarch "$(uname -m)" -R "$@"
  else
    "$@"
  fi
}

# Each build is a workflow preset of the same name: configure, build, test.
for preset in ${UMX_TEST_PRESETS:-dev asan tsan clang oldabi ppc64}; do
  echo "== $preset =="
  if [ "$preset" = ppc64 ]; then
    scripts/setup.sh g++-powerpc64-linux-gnu qemu-user googletest
  elif [ "$preset" = oldabi ]; then
    scripts/setup.sh googletest  # built from its sources with the older string ABI
  fi
  run=()
  if [ "$preset" = tsan ]; then run=(without_aslr); fi
  "${run[@]}" cmake --workflow --preset "$preset"
done

if [ -z "${UMX_TEST_PRESETS:-}" ]; then
  # The unit tests, each in a process of its own, under valgrind: an error or
  # a definite leak fails. Valgrind reads gcc's debug information, not
  # clang's DWARF 5, so it is the dev build's.
  echo "== valgrind memcheck (dev build) =="
  scripts/setup.sh valgrind
  cmake --preset dev >/dev/null
  cmake --build --preset dev
  ctest --test-dir build/dev -T memcheck -L unit -j 2 --output-on-failure

  echo "== formatting, clang-tidy and shellcheck =="
  scripts/lint.sh

  echo "== fuzzing, ${UMX_FUZZ_SECONDS:-30}s per fuzzer =="
  scripts/fuzz.sh "${UMX_FUZZ_SECONDS:-30}"
fi
echo "== all tests passed =="
