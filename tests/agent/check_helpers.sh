# Sourced by the agent check's shell tests, after they set $check and $work:
# failures counted by case, and a run of the check against its exit status.
# The sourcing test sets case, check and work:
# shellcheck shell=bash disable=SC2154

failures=0
# fail <what>: one failure of the current $case.
fail() {
  echo "FAIL [$case]: $*" >&2
  failures=$((failures + 1))
}

# run <expected status> <check options...>: stdout in $work/out, stderr in $work/err.
run() {
  local expected=$1 status=0
  shift
  "$check" "$@" >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq "$expected" ] ||
    fail "exit status $status, expected $expected: $(cat "$work/err" "$work/out")"
}
