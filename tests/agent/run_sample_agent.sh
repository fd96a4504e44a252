#!/usr/bin/env bash
# Runs the sample agent through the agent check on both of its command lines:
# with -cn, and without it, so that the library finds the job's results
# through the application. Every scenario must pass, and the right ones be
# reached. Then, in the outputs the check kept, what the sample says and how
# it exits for each failure and its cancellation; and, run directly, its
# help, a hexadecimal job id, the bad command lines the check does not make,
# an unknown application and a summary that cannot be put in place.
# Usage: run_sample_agent.sh <umx-agent-check> <umx-sample-agent>
set -euo pipefail
check=$1
agent=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset RK_LOCAL_PLATFORM_FAULTS RK_LOCAL_PLATFORM_TRANSCRIPT

failures=0
fail() {
  echo "FAIL [$case]: $*" >&2
  failures=$((failures + 1))
}

sample=(-j 1234 -a 2:17 -cn localclient -qs zentserver.localdomain -vm vm01
        -jt token-5f3a -d storenode01 -snapjid 1233 -synthfull -MetaDataEnabled)
# The same job without -cn: the platform knows application 2:17 by localclient.
by_application=("${sample[@]:0:4}" "${sample[@]:6}")
results_of() { echo "$1/clients/localclient/JobResults/RK_JobResults/2/0/$2"; }

# What the check reports of each scenario, by "<line>:<scenario>".
declare -A exit_status kept_root kept_out kept_err
learn() {
  local name status root out err
  while IFS=$'\t' read -r name status root out err; do
    exit_status[$1:$name]=$status kept_root[$1:$name]=$root kept_out[$1:$name]=$out
    kept_err[$1:$name]=$err
  done < <(jq -r '.scenarios[] | [.name, .exit.status, .kept.root, .kept.stdout, .kept.stderr]
                  | map(. // "") | @tsv' "$work/$1.json")
}

for line in cn app; do
  case="the agent check, $line command line"
  if [ "$line" = cn ]; then options=("${sample[@]}"); else options=("${by_application[@]}"); fi
  status=0
  "$check" --keep "$work/$line" --json "$work/$line.json" -- "$agent" "${options[@]}" \
    >"$work/$line.table" 2>"$work/err" || status=$?
  [ "$status" -eq 0 ] || fail "exit status $status: $(cat "$work/err" "$work/$line.table")"
  failed=$(jq -r '.scenarios[] | select(.passed | not) | "\(.name): \(.reason)"' "$work/$line.json")
  [ -z "$failed" ] || fail "failed scenarios: $failed"
  # The application lookups are made by the whole job without -cn, and
  # faulted on its line; the subclient lookup by neither.
  not_reached=$(jq -r '[.scenarios[] | select(.verdict == "not-reached") | .name] | join(" ")' \
    "$work/$line.json")
  expected="fault:subclient=2 fault:throw=subclient cancel:GetSubclientDir"
  expected+=" cancel-after:GetSubclientDir"
  [ "$(xargs -n1 <<<"$not_reached" | sort | xargs)" = "$(xargs -n1 <<<"$expected" | sort | xargs)" ] ||
    fail "not reached: $not_reached; expected: $expected"
  learn "$line"
done

# The whole job's trace and its complete summary, which ends with a line end.
case="whole job"
root=${kept_root[cn:whole-job]}
summary=$(results_of "$root" 1234)/job-summary.txt
for text in "JobId=1234" "ApplicationId=2:17, ZentCellId=2, ApplicationNumber=17" \
            "ClientName=localclient" "SyntheticFull=1" "BlockLevelMetadata=ON" \
            "SnapBackupJobId=1233" "backup job client created for job 1234" \
            "central server zentserver.localdomain" "job results in $(results_of "$root" 1234)" \
            "sent job status JMSUCCESS"; do
  grep -qF -- "$text" "${kept_out[cn:whole-job]}" || fail "stdout lacks \"$text\""
done
[ "$(cat "$summary")" = $'FilesInBackup=3\nScanStatistics=3\nStreams=1\nPhaseComplete=JMSUCCESS\nJobComplete=JMSUCCESS' ] ||
  fail "summary: $(cat "$summary")"
[ -z "$(tail -c1 "$summary")" ] || fail "job-summary.txt does not end with a line end"
! grep -q '^ClientName=' "${kept_out[app:whole-job]}" ||
  fail "a client name is traced without -cn"

# Each scenario, the command line it ran on, its exit status, what stderr
# names and how the agent's first line of its own names the failed step
# (empty: not checked). A cancelled job says KILLED on stdout.
client_step="cannot find the job results directory of client localclient"
application_step="cannot find the job results directory of application 2:17"
thrown="the job stopped on an exception"
cancelled="job 1234 cancelled by signal 15 (Terminated); no summary is left"
scenarios=(
  "cn|fault:init=5:down|1|Failed to initialize CBackupJobClient object: 5:down|cannot create the backup job client"
  "cn|fault:init=-1|1|Failed to initialize CBackupJobClient object: -1:(null)|cannot create the backup job client"
  "cn|fault:invalid|1|Invalid platform|cannot find the central server's host name"
  "cn|fault:hostname=31|1|error=31|cannot find the central server's host name"
  "cn|fault:resultsdir=5|1|error=5|$client_step"
  "cn|fault:unterminated|1|is not below the platform's root|"
  "cn|fault:scribble|0||"
  "cn|fault:throw=init|1|local platform: init failed|$thrown"
  "cn|fault:throw=hostname|1|local platform: getZentServerHostName failed|$thrown"
  "cn|fault:throw=resultsdir|1|local platform: getJobResultsDirectory failed|$thrown"
  "app|fault:appid=1168|1|getApplicationId failed, ApplicationId=2:17|$application_step"
  "app|fault:getclient|1|getClient returned NULL|$application_step"
  "app|fault:getname=1168|1|getName failed|$application_step"
  "app|fault:resultsdir=5|1|VirtualMachineName=localclient, error=5|$application_step"
  "app|fault:throw=appid|1|local platform: getApplicationId failed|$thrown"
  "app|fault:throw=getclient|1|local platform: getClient failed|$thrown"
  "app|fault:throw=getname|1|local platform: getName failed|$thrown"
  "cn|missing:-j|2|--help|the job id (-j) is missing"
  "cn|missing:-a|2|--help|the application id (-a) is missing"
  "cn|missing:-qs|2|--help|the central server's host name (-qs) is missing"
  "cn|missing:-jt|2|--help|the job manager token (-jt) is missing"
  "app|missing:-jt|2|--help|the job manager token (-jt) is missing"
  "cn|missing:-cn|0||"
  "cn|malformed:-j|2|--help|the job id (-j) \"12ab\" is not a whole number"
  "cn|malformed:-a|2|--help|the application id (-a) \"2:1x7\" is not <cell id>:<application number>"
  "cn|malformed:-snapjid|2|--help|the snapshot backup job id (-snapjid) \"12ab\" is not a whole number"
  "cn|cancel:init|143|Failed to initialize CBackupJobClient object: 1223:local platform: init was held until a signal|$cancelled"
  "cn|cancel:getZentServerHostName|143||$cancelled"
  "cn|cancel:getJobResultsDirectory|143||$cancelled"
  "app|cancel:getApplicationId|143||$cancelled"
  "app|cancel:getName|143||$cancelled"
)
for row in "${scenarios[@]}"; do
  IFS='|' read -r line scenario expected text cause <<<"$row"
  case="$scenario on the $line command line"
  status=${exit_status[$line:$scenario]-}
  [ "$status" = "$expected" ] || fail "exit status $status, expected $expected"
  err=${kept_err[$line:$scenario]-/dev/null}
  out=${kept_out[$line:$scenario]-/dev/null}
  if [ -n "$text" ]; then grep -qF -- "$text" "$err" || fail "stderr lacks \"$text\": $(cat "$err")"; fi
  first=$(grep -m1 '^umx-sample-agent: ' "$err" || true)
  [[ $first == *"$cause"* ]] || fail "the agent's first line \"$first\" does not say \"$cause\""
  if [ "$expected" = 143 ]; then
    grep -qF "sent job status KILLED" "$out" || fail "stdout does not say KILLED: $(cat "$out")"
    ! grep -qF "JMSUCCESS" "$out" || fail "a cancelled job says JMSUCCESS"
  fi
done

# Run directly: runs the agent with the given options on a platform root of
# its own; leaves the exit status in $status and the output in $work/out and
# $work/err.
run() {
  status=0
  export RK_LOCAL_PLATFORM_ROOT=$work/platform
  rm -rf "$RK_LOCAL_PLATFORM_ROOT"
  "$agent" "$@" >"$work/out" 2>"$work/err" || status=$?
}
expect_status() {
  [ "$status" -eq "$1" ] || fail "exit status $status, expected $1; stderr: $(cat "$work/err")"
}
expect_cause() {
  local first
  first=$(grep -m1 '^umx-sample-agent: ' "$work/err" || true)
  [[ $first == *"$1"* ]] || fail "the agent's first line \"$first\" does not say \"$1\""
}
expect_no_summary() {
  local left
  left=$(find "$RK_LOCAL_PLATFORM_ROOT" -name 'job-summary.txt*' -type f 2>/dev/null || true)
  [ -z "$left" ] || fail "left behind: $left"
}

for help in --help -h "-j abc --help"; do
  case="help: $help"
  # shellcheck disable=SC2086 # the last case is two options
  run $help
  expect_status 0
  for text in "usage: umx-sample-agent -j <job id>" "2      the command line is wrong" \
              "128+N  the job was cancelled by signal N (143 for SIGTERM"; do
    grep -qF -- "$text" "$work/out" || fail "the usage lacks \"$text\""
  done
  [ ! -s "$work/err" ] || fail "stderr is not empty: $(cat "$work/err")"
done

case="hexadecimal job id"
run -j 0x10 "${sample[@]:2}"
expect_status 0
grep -qx "JobId=16" "$work/out" || fail "no JobId=16: $(cat "$work/out")"
[ -f "$(results_of "$RK_LOCAL_PLATFORM_ROOT" 16)/job-summary.txt" ] || fail "no summary for job 16"

case="application unknown to the platform"
run -j 1234 -a 3:5 "${by_application[@]:4}"
expect_status 1
expect_cause "cannot find the job results directory of application 3:5"
grep -qF "getApplicationId failed, ApplicationId=3:5" "$work/err" || fail "$(cat "$work/err")"
expect_no_summary

# A summary that cannot be put in place is not left half-written either.
case="summary cannot be renamed into place"
export RK_LOCAL_PLATFORM_ROOT=$work/platform
rm -rf "$RK_LOCAL_PLATFORM_ROOT"
mkdir -p "$(results_of "$RK_LOCAL_PLATFORM_ROOT" 1234)/job-summary.txt/in-the-way"
status=0
"$agent" "${sample[@]}" >"$work/out" 2>"$work/err" || status=$?
expect_status 1
expect_cause "cannot write the job summary $(results_of "$RK_LOCAL_PLATFORM_ROOT" 1234)/job-summary.txt"
! compgen -G "$(results_of "$RK_LOCAL_PLATFORM_ROOT" 1234)/job-summary.txt.partial*" >/dev/null ||
  fail "a partial summary left"

# SIGTERM between the job's last platform call, the results directory
# lookup, and the summary's commit cancels the job: nothing is left.
for line in cn app; do
  case="SIGTERM after the last platform call, $line command line"
  if [ "$line" = cn ]; then options=("${sample[@]}"); else options=("${by_application[@]}"); fi
  rm -f "$work/transcript"
  RK_LOCAL_PLATFORM_FAULTS=term=resultsdir RK_LOCAL_PLATFORM_TRANSCRIPT=$work/transcript \
    run "${options[@]}"
  expect_status 143
  expect_cause "$cancelled"
  grep -qF "sent job status KILLED" "$work/out" || fail "stdout does not say KILLED: $(cat "$work/out")"
  last=$(tail -n1 "$work/transcript" | jq -r '"\(.call) \(.state) \(.failed)"')
  [ "$last" = "getJobResultsDirectory returned false" ] || fail "the last platform call: $last"
  expect_no_summary
done

# The bad command lines that the agent check does not make, and what the
# agent's first line says. They run with a malformed fault list: the
# platform would stop the process with 125 had the agent called it before
# refusing the command line.
bad_lines=(
  "the application id (-a) is missing|-j 1234 -qs q -jt t"
  "the application id (-a) \"2:17:5\" is not <cell id>:<application number>|-j 1234 -a 2:17:5 ${sample[*]:4}"
  "the application id (-a) \"2\" is not <cell id>:<application number>|-j 1234 -a 2 ${sample[*]:4}"
  "the application id (-a) \"2:-17\" is not <cell id>:<application number>|-j 1234 -a 2:-17 ${sample[*]:4}"
  "the application id (-a) \"4294967296:1\" is not <cell id>:<application number>|-j 1234 -a 4294967296:1 ${sample[*]:4}"
  "the job id (-j) \"123abc\" is not a whole number|-j 123abc ${sample[*]:2}"
  "the job id (-j) \"\" is not a whole number|-j ${sample[*]:2}"
  "the job id (-j) \"0x\" is not a whole number|-j 0x ${sample[*]:2}"
  "the job id (-j) \"99999999999999999999\" is not a whole number|-j 99999999999999999999 ${sample[*]:2}"
)
for row in "${bad_lines[@]}"; do
  IFS='|' read -r text options <<<"$row"
  case="bad command line: $text"
  # shellcheck disable=SC2086 # the options are split at blanks on purpose
  RK_LOCAL_PLATFORM_FAULTS=bogus run $options
  expect_status 2
  expect_cause "$text"
  grep -qF -- "--help" "$work/err" || fail "stderr does not point to --help"
  expect_no_summary
done

# A job id with a leading blank, which the library would read as the number
# after the blank, is refused as the other bad command lines are.
for row in " 1234| 1234" $'\t1234|\\x091234'; do
  IFS='|' read -r value shown <<<"$row"
  case="bad command line: job id \"$shown\""
  RK_LOCAL_PLATFORM_FAULTS=bogus run -j "$value" "${sample[@]:2}"
  expect_status 2
  expect_cause "the job id (-j) \"$shown\" is not a whole number"
  expect_no_summary
done

# A value that is not a whole number is refused before any option is traced.
case="job id refused before the trace"
run -j abc "${sample[@]:2}"
[ ! -s "$work/out" ] || fail "stdout is not empty: $(cat "$work/out")"

[ "$failures" -eq 0 ] || exit 1
echo "sample agent: the agent check passes it on both command lines; all cases passed"
