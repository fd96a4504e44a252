#!/usr/bin/env bash
# The first agent, run directly: it writes its result only below the
# platform's root, and a SIGTERM that arrives once one of its platform calls
# has answered cancels the job, with exit status 143 and no result left.
# Usage: check_first_agent.sh <first-agent>
set -euo pipefail
agent=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset RK_LOCAL_PLATFORM_FAULTS RK_LOCAL_PLATFORM_TRANSCRIPT
export RK_LOCAL_PLATFORM_ROOT=$work/platform
beside=${RK_LOCAL_PLATFORM_ROOT}X

failures=0
fail() {
  echo "FAIL [$case]: $*" >&2
  failures=$((failures + 1))
}

# run <expected status> <fault list> <agent options...>: on a fresh root
# (the agent makes the folders below it, not the root itself) and an empty
# folder beside it; output in $work/out and $work/err.
run() {
  local expected=$1 faults=$2 status=0
  shift 2
  rm -rf "$RK_LOCAL_PLATFORM_ROOT" "$beside"
  mkdir -m 700 "$RK_LOCAL_PLATFORM_ROOT" "$beside"
  RK_LOCAL_PLATFORM_FAULTS=$faults "$agent" "$@" >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq "$expected" ] || fail "exit status $status, expected $expected: $(cat "$work/err")"
}
expect_no_result() {
  local left
  left=$(find "$work" -name 'result.txt*')
  [ -z "$left" ] || fail "a result was left: $left"
}

cn=(-j 1234 -a 2:17 -cn localclient)
app=(-j 1234 -a 2:17)

case="whole job"
run 0 "" "${cn[@]}"
result=$RK_LOCAL_PLATFORM_ROOT/clients/localclient/JobResults/RK_JobResults/2/0/1234/result.txt
[ "$(cat "$result" 2>/dev/null)" = "JobComplete=JMSUCCESS" ] || fail "no result in $result"

# A folder whose name starts with the root's is not below the root, nor is
# one reached from the root through "..".
for dir in "$beside/d" "$RK_LOCAL_PLATFORM_ROOT/../$(basename "$beside")/d"; do
  case="results directory $dir"
  run 1 "setresultsdir=$dir" "${app[@]}"
  grep -qF "is not below the root $RK_LOCAL_PLATFORM_ROOT" "$work/err" ||
    fail "stderr does not say why: $(cat "$work/err")"
  [ -z "$(ls -A "$beside")" ] || fail "written beside the root: $(find "$beside")"
  expect_no_result
done

# term=NAME: SIGTERM once the call NAME has answered, the job's first and
# last calls on each command line among them.
for row in "init|cn" "resultsdir|cn" "appid|app" "getname|app" "resultsdir|app"; do
  IFS='|' read -r call line <<<"$row"
  case="SIGTERM after $call, $line command line"
  if [ "$line" = cn ]; then options=("${cn[@]}"); else options=("${app[@]}"); fi
  run 143 "term=$call" "${options[@]}"
  grep -qF "first-agent: cancelled by signal 15" "$work/err" ||
    fail "stderr does not say so: $(cat "$work/err")"
  expect_no_result
done

[ "$failures" -eq 0 ] || exit 1
echo "first agent: writes only below the root, and stops when terminated"
