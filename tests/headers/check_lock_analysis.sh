#!/usr/bin/env bash
# What clang's thread-safety analysis concludes about code that uses the
# library's locks: a guarded write is accepted only where the lock is surely
# held, and refused after a guard that may not have taken it. An agent
# cannot re-initialise a mutex either.
# Usage: check_lock_analysis.sh <clang++> <include dir>
set -euo pipefail
compiler=$1
include=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
# Each case: a name, what the analysis must say ("accepted", or a part of
# its warning) and the body of a function that holds `mutex` guarding
# `value`.
cases=(
  "locking guard|accepted|auto_lock lock(&mutex); value = 1;"
  "deferred guard|requires holding mutex 'mutex' exclusively|auto_lock lock(&mutex, FXDeferLock()); value = 1;"
  "deferred guard, then locked|accepted|auto_lock lock(&mutex, FXDeferLock()); lock.Lock(); value = 1;"
  "guard told false at run time|requires holding mutex 'mutex' exclusively|auto_lock lock(&mutex, false); value = 1;"
  "guard told true at run time|requires holding mutex 'mutex' exclusively|auto_lock lock(&mutex, true); value = 1;"
  "guard unlocked before the write|requires holding mutex 'mutex' exclusively|auto_lock lock(&mutex); lock.Unlock(); value = 1;"
  "holder asserted|accepted|mutex.AssertHeld(); value = 1;"
  "no lock|requires holding mutex 'mutex' exclusively|value = 1;"
  "re-initialising the mutex|is a protected member of 'FXMutex'|mutex.Init();"
)
for row in "${cases[@]}"; do
  IFS='|' read -r name expected body <<<"$row"
  cat >"$work/case.cpp" <<CODE
#include "fx/FXMutex.h"
#include "fx/auto_lock.h"
FXMutex mutex;
int value UMX_GUARDED_BY(mutex);
void Write() { $body }
CODE
  status=0
  "$compiler" -std=c++11 -fsyntax-only -Wthread-safety -Werror -I"$include" "$work/case.cpp" \
    >"$work/log" 2>&1 || status=$?
  if [ "$expected" = accepted ]; then
    [ "$status" -eq 0 ] || { echo "FAIL [$name]: refused: $(cat "$work/log")" >&2; failures=$((failures + 1)); }
  elif [ "$status" -eq 0 ] || ! grep -qF "$expected" "$work/log"; then
    echo "FAIL [$name]: not refused with \"$expected\": $(cat "$work/log")" >&2
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] || exit 1
echo "lock analysis: ${#cases[@]} cases as expected"
