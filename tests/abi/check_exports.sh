#!/usr/bin/env bash
# Compares the dynamic symbols a library defines with the checked-in list, so
# that an export cannot be added or lost by accident.
# Usage: check_exports.sh <library> <list> [--update]
set -euo pipefail
lib=$1
list=$2

# Names only: compilers give the same symbol different kind letters (a
# vtable is V for one, D or R for another).
actual=$(nm -D --defined-only -C "$lib" | cut -d' ' -f3- | LC_ALL=C sort -u)

if [ "${3:-}" = "--update" ]; then
  printf '%s\n' "$actual" >"$list"
  echo "wrote $list"
  exit 0
fi

if ! diff -u "$list" <(printf '%s\n' "$actual"); then
  echo "The exports of $(basename "$lib") differ from $list (- expected, + actual)." >&2
  echo "If the change is intended, run: $0 $lib $list --update" >&2
  exit 1
fi
