#!/usr/bin/env bash
# Runs each fuzzer for a bounded time (default 30 s each) under
# AddressSanitizer and UndefinedBehaviorSanitizer; fails on a finding.
# Usage: scripts/fuzz.sh [seconds per fuzzer]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}

scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in arguments display strings transcript; do
  echo "== fuzz_$target, ${seconds}s =="
  mkdir -p "$work/$target"
  # New inputs go to the scratch directory; the checked-in corpus is only read.
  build/fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="build/fuzz/fuzz_$target-" "$work/$target" "fuzz/corpus/$target"
done
