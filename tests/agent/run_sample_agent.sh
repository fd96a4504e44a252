#!/usr/bin/env bash
# Runs the built sample agent on a fresh local platform: a whole job on the
# sample command line, then a missing and a malformed required option.
# Usage: run_sample_agent.sh <umx-sample-agent>
set -euo pipefail
agent=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export RK_LOCAL_PLATFORM_ROOT=$work/platform

failures=0
fail() {
  echo "FAIL [$case]: $*" >&2
  failures=$((failures + 1))
}

# Runs the agent with the given options; leaves the exit status in $status and
# the output in $work/out and $work/err.
run() {
  status=0
  "$agent" "$@" >"$work/out" 2>"$work/err" || status=$?
}

expect_status() {
  [ "$status" -eq "$1" ] || fail "exit status $status, expected $1; stderr: $(cat "$work/err")"
}

expect_text() {
  grep -qF -- "$2" "$1" || fail "$(basename "$1") lacks \"$2\": $(cat "$1")"
}

sample=(-j 1234 -a 2:17 -cn localclient -qs zentserver.localdomain -vm vm01
        -jt token-5f3a -d storenode01 -snapjid 1233 -synthfull -MetaDataEnabled)
results=$RK_LOCAL_PLATFORM_ROOT/clients/localclient/JobResults/RK_JobResults/2/0/1234

case="whole job"
run "${sample[@]}"
expect_status 0
for line in "JobId=1234" "ApplicationId=2:17, ZentCellId=2, ApplicationNumber=17" \
            "ClientName=localclient" "SyntheticFull=1" "BlockLevelMetadata=ON" \
            "SnapBackupJobId=1233" "backup job client created for job 1234" \
            "central server zentserver.localdomain" "job results in $results" \
            "sent job status JMSUCCESS"; do
  expect_text "$work/out" "$line"
done
if [ -f "$results/job-summary.txt" ]; then
  for line in "FilesInBackup=" "Streams=" "PhaseComplete=JMSUCCESS" "JobComplete=JMSUCCESS"; do
    expect_text "$results/job-summary.txt" "$line"
  done
else
  fail "no job-summary.txt in $results"
fi

# A failed option read exits 2; any other status would be a crash or a
# sanitizer's report.
case="missing job id"
run "${sample[@]:2}"
expect_status 2
expect_text "$work/err" "GetOption failed, Option=j"

case="malformed application id"
run -j 1234 -a 2:17:5 "${sample[@]:4}"
expect_status 2
expect_text "$work/err" "ApplicationId invalid"

[ "$failures" -eq 0 ] || exit 1
echo "sample agent: all cases passed"
