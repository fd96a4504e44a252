#!/usr/bin/env bash
# Runs each fuzzer that the fuzz build makes for a bounded time (default 30 s
# each) under AddressSanitizer and UndefinedBehaviorSanitizer; fails on a
# finding. The fuzzers are those the build lists in fuzz/fuzzers.txt; fuzzer
# fuzz_NAME starts from the checked-in corpus fuzz/corpus/NAME, if there is one.
# Usage: scripts/fuzz.sh [seconds per fuzzer]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
build=build/fuzz

scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

mapfile -t fuzzers <"$build/fuzz/fuzzers.txt"
[ ${#fuzzers[@]} -gt 0 ] || { echo "fuzz: $build/fuzz/fuzzers.txt lists no fuzzer" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for fuzzer in "${fuzzers[@]}"; do
  target=$(basename "$fuzzer")
  name=${target#fuzz_}
  echo "== $target, ${seconds}s =="
  # New inputs go to the scratch directory; the checked-in corpus is only read.
  corpora=("$work/$name")
  mkdir -p "$work/$name"
  if [ -d "fuzz/corpus/$name" ]; then
    corpora+=("fuzz/corpus/$name")
  else
    echo "fuzz: no fuzz/corpus/$name; $target starts from nothing" >&2
  fi
  "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$build/$target-" "${corpora[@]}"
done
