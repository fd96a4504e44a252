#!/usr/bin/env bash
# Runs the built sample agent on a fresh local platform: a whole job on the
# sample command line, with -cn and through the application without it, the
# help, every failure the platform can be told to report through
# RK_LOCAL_PLATFORM_FAULTS, and each kind of bad command line.
# Usage: run_sample_agent.sh <umx-sample-agent>
set -euo pipefail
agent=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset RK_LOCAL_PLATFORM_FAULTS

failures=0
fail() {
  echo "FAIL [$case]: $*" >&2
  failures=$((failures + 1))
}

# Runs the agent with the given options on a platform root of its own; leaves
# the exit status in $status and the output in $work/out and $work/err.
run() {
  status=0
  export RK_LOCAL_PLATFORM_ROOT=$work/platform
  rm -rf "$RK_LOCAL_PLATFORM_ROOT"
  "$agent" "$@" >"$work/out" 2>"$work/err" || status=$?
}

expect_status() {
  [ "$status" -eq "$1" ] || fail "exit status $status, expected $1; stderr: $(cat "$work/err")"
}

expect_text() {
  grep -qF -- "$2" "$1" || fail "$(basename "$1") lacks \"$2\": $(cat "$1")"
}

# The first line of stderr that is the agent's own (the log sink's records
# come before it) says what went wrong.
expect_cause() {
  local first
  first=$(grep -m1 '^umx-sample-agent: ' "$work/err" || true)
  [[ $first == *"$1"* ]] || fail "the agent's first line \"$first\" does not say \"$1\""
}

# A failed job leaves no summary, whole or partial, anywhere under the root.
expect_no_summary() {
  local left
  left=$(find "$RK_LOCAL_PLATFORM_ROOT" -name 'job-summary.txt*' -type f 2>/dev/null || true)
  [ -z "$left" ] || fail "left behind: $left"
}

sample=(-j 1234 -a 2:17 -cn localclient -qs zentserver.localdomain -vm vm01
        -jt token-5f3a -d storenode01 -snapjid 1233 -synthfull -MetaDataEnabled)
# The same job without -cn: the platform knows application 2:17 by localclient.
by_application=("${sample[@]:0:4}" "${sample[@]:6}")
results_of() { echo "$RK_LOCAL_PLATFORM_ROOT/clients/localclient/JobResults/RK_JobResults/2/0/$1"; }

# A done job: its trace, and a complete summary that ends with a line end.
# A second argument "by-application" says that the job ran without -cn, so
# no client name is traced.
expect_done() {
  local results summary
  results=$(results_of "$1")
  summary=$results/job-summary.txt
  expect_status 0
  if [ "${2:-}" = by-application ]; then
    ! grep -q '^ClientName=' "$work/out" || fail "a client name is traced without -cn"
  else
    expect_text "$work/out" "ClientName=localclient"
  fi
  for line in "JobId=$1" "ApplicationId=2:17, ZentCellId=2, ApplicationNumber=17" \
              "SyntheticFull=1" "BlockLevelMetadata=ON" \
              "SnapBackupJobId=1233" "backup job client created for job $1" \
              "central server zentserver.localdomain" "job results in $results" \
              "sent job status JMSUCCESS"; do
    expect_text "$work/out" "$line"
  done
  if [ -f "$summary" ]; then
    for line in "FilesInBackup=3" "ScanStatistics=3" "Streams=1" "PhaseComplete=JMSUCCESS" \
                "JobComplete=JMSUCCESS"; do
      expect_text "$summary" "$line"
    done
    [ -z "$(tail -c1 "$summary")" ] || fail "job-summary.txt does not end with a line end"
  else
    fail "no job-summary.txt in $results"
  fi
  ! compgen -G "$summary.partial*" >/dev/null || fail "a partial summary left beside the summary"
}

case="whole job"
run "${sample[@]}"
expect_done 1234

case="whole job through the application"
run "${by_application[@]}"
expect_done 1234 by-application

case="hexadecimal job id"
run -j 0x10 "${sample[@]:2}"
expect_done 16

for help in --help -h "-j abc --help"; do
  case="help: $help"
  # shellcheck disable=SC2086 # the last case is two options
  run $help
  expect_status 0
  expect_text "$work/out" "usage: umx-sample-agent -j <job id>"
  expect_text "$work/out" "2  the command line is wrong"
  [ ! -s "$work/err" ] || fail "stderr is not empty: $(cat "$work/err")"
done

# Each fault list, the command line it runs on (with -cn, or without it so
# that the library finds the client through the application), the exit
# status, what stderr then names and how the agent's first line names the
# failed step (empty: not checked). 125 is the local platform stopping on a
# malformed list.
client_step="cannot find the job results directory of client localclient"
application_step="cannot find the job results directory of application 2:17"
thrown="the job stopped on an exception"
faults=(
  "cn|init=5:down|1|Failed to initialize CBackupJobClient object: 5:down|cannot create the backup job client"
  "cn|init=-7|1|Failed to initialize CBackupJobClient object: -7:(null)|cannot create the backup job client"
  "cn|invalid|1|Invalid platform|cannot find the central server's host name"
  "cn|hostname=31|1|error=31|cannot find the central server's host name"
  "cn|resultsdir=4|1|error=4|$client_step"
  "cn|unterminated|1|is not below the platform's root|"
  "cn|throw=init|1|local platform: init failed|$thrown"
  "cn|throw=hostname|1|local platform: getZentServerHostName failed|$thrown"
  "cn|throw=resultsdir|1|local platform: getJobResultsDirectory failed|$thrown"
  "cn|scribble,resultsdir=4|1|error=4|$client_step"
  "cn|bogus|125|\"bogus\"|"
  "cn|hostname=31x|125|\"hostname=31x\"|"
  "cn|invalid,,scribble|125|item 2 is empty|"
  "cn|throw=everything|125|\"throw=everything\"|"
  "app|appid=5|1|getApplicationId failed, ApplicationId=2:17|$application_step"
  "app|getclient|1|getClient returned NULL|$application_step"
  "app|getname=3|1|getName failed|$application_step"
  "app|resultsdir=4|1|VirtualMachineName=localclient, error=4|$application_step"
  "app|throw=appid|1|local platform: getApplicationId failed|$thrown"
  "app|throw=getclient|1|local platform: getClient failed|$thrown"
  "app|throw=getname|1|local platform: getName failed|$thrown"
)
for row in "${faults[@]}"; do
  IFS='|' read -r line list expected text cause <<<"$row"
  case="RK_LOCAL_PLATFORM_FAULTS=$list on the $line command line"
  if [ "$line" = cn ]; then options=("${sample[@]}"); else options=("${by_application[@]}"); fi
  RK_LOCAL_PLATFORM_FAULTS=$list run "${options[@]}"
  expect_status "$expected"
  expect_text "$work/err" "$text"
  expect_no_summary
  if [ -n "$cause" ]; then expect_cause "$cause"; fi
done

case="application unknown to the platform"
run -j 1234 -a 3:5 "${by_application[@]:4}"
expect_status 1
expect_cause "cannot find the job results directory of application 3:5"
expect_text "$work/err" "getApplicationId failed, ApplicationId=3:5"
expect_no_summary

# With -cn the agent makes no application lookup, on neither road a subclient
# lookup, and it ignores the scratch buffers: these faults leave its job done,
# so an armed fault does not leak into the other calls.
for list in scribble appid=5 getclient getname=3 subclient=2 throw=appid throw=getclient \
            throw=getname throw=subclient; do
  case="RK_LOCAL_PLATFORM_FAULTS=$list"
  RK_LOCAL_PLATFORM_FAULTS=$list run "${sample[@]}"
  expect_done 1234
done
for list in scribble subclient=2 throw=subclient; do
  case="RK_LOCAL_PLATFORM_FAULTS=$list without -cn"
  RK_LOCAL_PLATFORM_FAULTS=$list run "${by_application[@]}"
  expect_done 1234 by-application
done

# A summary that cannot be put in place is not left half-written either.
case="summary cannot be renamed into place"
export RK_LOCAL_PLATFORM_ROOT=$work/platform
rm -rf "$RK_LOCAL_PLATFORM_ROOT"
mkdir -p "$(results_of 1234)/job-summary.txt/in-the-way"
status=0
"$agent" "${sample[@]}" >"$work/out" 2>"$work/err" || status=$?
expect_status 1
expect_cause "cannot write the job summary $(results_of 1234)/job-summary.txt"
! compgen -G "$(results_of 1234)/job-summary.txt.partial*" >/dev/null || fail "a partial summary left"

# Each bad command line, what the agent's first line says and the options.
# They run with a malformed fault list: the platform would stop the process
# with 125 had the agent called it before refusing the command line.
bad_lines=(
  "the job id (-j) is missing|${sample[*]:2}"
  "the application id (-a) is missing|-j 1234 ${sample[*]:4}"
  "the central server's host name (-qs) is missing|-j 1234 -a 2:17 -cn c -jt t"
  "the job manager token (-jt) is missing|-j 1234 -a 2:17 -cn c -qs q"
  "the job manager token (-jt) is missing|-j 1234 -a 2:17 -qs q"
  "the application id (-a) is missing|-j 1234 -qs q -jt t"
  "the application id (-a) \"2:17:5\" is not <cell id>:<application number>|-j 1234 -a 2:17:5 ${sample[*]:4}"
  "the application id (-a) \"2\" is not <cell id>:<application number>|-j 1234 -a 2 ${sample[*]:4}"
  "the job id (-j) \"abc\" is not a whole number|-j abc ${sample[*]:2}"
  "the job id (-j) \"123abc\" is not a whole number|-j 123abc ${sample[*]:2}"
  "the job id (-j) \"\" is not a whole number|-j ${sample[*]:2}"
  "the job id (-j) \"0x\" is not a whole number|-j 0x ${sample[*]:2}"
  "the job id (-j) \"99999999999999999999\" is not a whole number|-j 99999999999999999999 ${sample[*]:2}"
  "the snapshot backup job id (-snapjid) \"x1\" is not a whole number|${sample[*]} -snapjid x1"
)
for row in "${bad_lines[@]}"; do
  IFS='|' read -r text options <<<"$row"
  case="bad command line: $text"
  # shellcheck disable=SC2086 # the options are split at blanks on purpose
  RK_LOCAL_PLATFORM_FAULTS=bogus run $options
  expect_status 2
  expect_cause "$text"
  expect_text "$work/err" "--help"
  expect_no_summary
done

# A value that is not a whole number is refused before any option is traced.
case="job id refused before the trace"
run -j abc "${sample[@]:2}"
[ ! -s "$work/out" ] || fail "stdout is not empty: $(cat "$work/out")"

[ "$failures" -eq 0 ] || exit 1
echo "sample agent: all cases passed"
