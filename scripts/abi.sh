#!/usr/bin/env bash
# Builds libUMXClient in the dev build (gcc with debug information) and
# compares its binary interface with the checked-in baseline
# tests/abi/UMXClient.abi (tests/abi/check_abi.sh). The dev build's tests run
# the same comparison as Abi.BinaryInterfaceMatchesTheBaseline (label abi);
# this script is for rewriting the baseline.
# Usage: scripts/abi.sh             check against the baseline
#        scripts/abi.sh --update    rewrite the baseline (a deliberate change;
#                                   a break also takes a new SOVERSION)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target UMXClient
exec tests/abi/check_abi.sh build/dev/libUMXClient.so.1 tests/abi/UMXClient.abi \
  tests/abi/UMXClient.suppr "$@"
