#!/usr/bin/env bash
# Compares the binary interface of a libUMXClient built by gcc with debug
# information with the checked-in baseline, and fails on any change: an
# exported function or variable added, removed or changed, a type's size or
# layout, a virtual table. The types that the suppressions file names belong
# to a platform library, which alone allocates and reads them. Exits 77
# (skipped) where abigail-tools is not installed.
# Usage: check_abi.sh <library> <baseline .abi> <suppressions> [--update]
#   --update rewrites the baseline (a deliberate change; a break also takes
#   a new SOVERSION).
set -euo pipefail
lib=$1
baseline=$2
suppressions=$3

if ! command -v abidiff >/dev/null || ! command -v abidw >/dev/null; then
  echo "abi: abidiff or abidw is missing (Debian package abigail-tools); skipped" >&2
  exit 77
fi

if [ "${4:-}" = "--update" ]; then
  # Paths and build directories are left out, so that any checkout compares.
  abidw --no-corpus-path --no-comp-dir-path --short-locs --type-id-style hash \
    --out-file "$baseline" "$lib"
  echo "wrote $baseline"
  exit 0
fi

if ! abidiff --no-show-locs --suppressions "$suppressions" "$baseline" "$lib"; then
  echo "The binary interface of $lib differs from $baseline." >&2
  echo "If the change is deliberate, run scripts/abi.sh --update (a break takes a new SOVERSION)." >&2
  exit 1
fi
echo "abi: $lib matches $baseline"
