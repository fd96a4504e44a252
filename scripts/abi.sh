#!/usr/bin/env bash
# Compares the binary interface of libUMXClient (the dev build: gcc with
# debug information) with the checked-in baseline tests/abi/UMXClient.abi, and
# fails on any change: an exported function or variable added, removed or
# changed, a type's size or layout, a virtual table. The types that
# tests/abi/UMXClient.suppr names belong to a platform library, which alone
# allocates and reads them.
# Usage: scripts/abi.sh             check against the baseline
#        scripts/abi.sh --update    rewrite the baseline (a deliberate change;
#                                   a break also takes a new SOVERSION)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target UMXClient
lib=build/dev/libUMXClient.so.1
baseline=tests/abi/UMXClient.abi

# Paths and build directories are left out, so that any checkout compares.
abidw_options=(--no-corpus-path --no-comp-dir-path --short-locs --type-id-style hash)

if [ "${1:-}" = "--update" ]; then
  abidw "${abidw_options[@]}" --out-file "$baseline" "$lib"
  echo "wrote $baseline"
  exit 0
fi

if ! abidiff --no-show-locs --suppressions tests/abi/UMXClient.suppr "$baseline" "$lib"; then
  echo "The binary interface of libUMXClient differs from $baseline." >&2
  echo "If the change is deliberate, run scripts/abi.sh --update (a break takes a new SOVERSION)." >&2
  exit 1
fi
echo "abi: libUMXClient matches $baseline"
