#!/usr/bin/env bash
# The agent check names each broken agent's fault with its own verdict, in
# the table and in the JSON report, and no other; it passes the sample agent
# in well under 10 seconds, tolerates what an expectations file allows, and
# exits 2, saying why, when the check itself cannot run.
# Usage: check_agent_check.sh <umx-agent-check> <umx-sample-agent> <umx-broken-agent>
set -euo pipefail
check=$1
sample=$2
broken=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset RK_LOCAL_PLATFORM_FAULTS RK_LOCAL_PLATFORM_TRANSCRIPT NO_COLOR UMX_BROKEN_WAY

# shellcheck source-path=SCRIPTDIR source=check_helpers.sh
. "$(dirname "$0")/check_helpers.sh"

case="the sample agent"
start=$(date +%s%N)
run 0 --json "$work/sample.json" -- "$sample"
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
[ "$elapsed_ms" -lt 10000 ] || fail "took $elapsed_ms ms"
jq -e '.version == 4 and .passed and .counts.failed == 0 and .counts.passed >= 40' \
  "$work/sample.json" >/dev/null || fail "report: $(jq -c .counts "$work/sample.json")"
for name in whole-job fault:init=5:down fault:hostname=31 fault:throw=resultsdir missing:-j \
            missing:-qs malformed:-j malformed:-a cancel:getJobResultsDirectory; do
  grep -Eq "^$name +passed " "$work/out" || fail "the table lacks $name passed: $(cat "$work/out")"
done
grep -Eq '^fault:subclient=2 +not reached +no whole job made a GetSubclientDir call$' "$work/out" ||
  fail "subclient is not listed as not reached"
grep -Eq '^fault:getclient +passed ' "$work/out" || fail "getclient is not faulted without -cn"
grep -Eq '^crash:1 +passed +killed by SIGKILL' "$work/out" || fail "no crash point passed"
grep -Eq 'passed, 0 failed, [0-9]+ not reached; 28 of 32 platform calls faulted' "$work/out" ||
  fail "the summary does not give the coverage: $(tail -1 "$work/out")"
! grep -q $'\e' "$work/out" || fail "colour on a stdout that is no terminal"

# Each broken agent, a scenario it fails (a pattern), the verdict, what the
# detail says, and the other verdicts it may get elsewhere. Every scenario
# it fails fails with one of those.
broken_agents=(
  "crash|fault:resultsdir=5|crashed|killed by SIGABRT|"
  "hang|fault:hostname=31|hung|still running when the time limit ended|"
  "success-on-init|fault:init=5:down|reported-success|exit 0 after init failed|"
  "silent|fault:hostname=31|failed-silently|exit 1 with nothing on stderr|"
  "partial|fault:hostname=31|left-partial-results|job-summary.txt (16 bytes), which the whole job writes|"
  "ignore-term|cancel:getJobResultsDirectory|not-gone|after SIGTERM inside getJobResultsDirectory|reported-success"
  "ignore-term|cancel-after:getZentServerHostName|reported-success|exit 0 after SIGTERM as getZentServerHostName returned|not-gone"
  "trace|whole-job|malformed-trace|stdout line 4 \"JobId: 1234\" is not in the library's form|"
  "ignore-cn|whole-job|wrong-results-folder|which it never asked for|"
  "raw-text|whole-job|printed-raw-text|\"working for client local clienté\\x1b\" holds a raw byte|"
  "in-place|crash:[0-9]+|left-partial-results|/1234/job-summary.txt with 16 bytes, not the whole job's 38|"
  "write-outside|whole-job|wrote-outside|changed a file outside its folders: fopen64 /tmp/umx-broken-agent-|"
)
for row in "${broken_agents[@]}"; do
  IFS='|' read -r way scenario verdict reason also <<<"$row"
  case="UMX_BROKEN_WAY=$way, $scenario"
  json=$work/$way.json
  UMX_BROKEN_WAY=$way run 1 -j 4 --timeout 3 --json "$json" -- "$broken"
  words=${verdict//-/ }
  grep -Eq "^$scenario +$words +.*${reason//[()\\]/.}" "$work/out" ||
    fail "the table does not say $scenario $words: $(grep -E "^$scenario " "$work/out")"
  jq -e --arg name "^$scenario\$" --arg verdict "$verdict" --arg reason "$reason" \
    '[.scenarios[] | select(.name | test($name))] | any(.verdict == $verdict and (.passed | not)
     and (.reason | contains($reason)) and .hint != null and .reproduce != null)' "$json" >/dev/null ||
    fail "the report says $(jq -c --arg name "^$scenario\$" '.scenarios[] | select(.name | test($name))
                                                         | [.verdict, .reason]' "$json")"
  others=$(jq -r --arg verdicts "$verdict,$also" \
    '.scenarios[] | select((.passed | not) and (.verdict | IN($verdicts | split(",")[]) | not))
     | "\(.name) \(.verdict)"' "$json")
  [ -z "$others" ] || fail "other verdicts: $others"
  jq -e '.passed == false and .counts.failed > 0' "$json" >/dev/null || fail "the report passes"
done

# /dev/shm is a file system, not a device: a file left there is outside.
if [ -w /dev/shm ]; then
  case="UMX_BROKEN_WAY=write-outside in /dev/shm"
  UMX_BROKEN_WAY=write-outside UMX_BROKEN_OUTSIDE=/dev/shm run 1 --only whole-job -- "$broken"
  grep -Eq '^whole-job +wrote outside +changed a file outside its folders: fopen64 /dev/shm/' \
    "$work/out" || fail "$(cat "$work/out")"
fi

# A failure's replay command, run outside the check from its own folder,
# ends as the scenario's run did.
case="replay"
replay=$(jq -r '.scenarios[] | select(.name == "fault:resultsdir=5") | .reproduce' "$work/crash.json")
status=0
(UMX_BROKEN_WAY=crash bash -c "$replay") >/dev/null 2>&1 || status=$?
[ "$status" -eq 134 ] || fail "the replay of fault:resultsdir=5 ended $status, not 134: $replay"

case="the check's own platform variables"
RK_LOCAL_PLATFORM_FAULTS=throw=init RK_LOCAL_PLATFORM_TRANSCRIPT="$work/planted.jsonl" \
  RK_LOCAL_PLATFORM_ROOT="$work/planted-root" run 0 --only 'missing:-j' -- "$sample"
if [ -e "$work/planted.jsonl" ] || [ -e "$work/planted-root" ]; then
  fail "the check's own RK_LOCAL_PLATFORM_* reached the agent"
fi

case="expectations"
cat >"$work/expect" <<'END'
# init may fail: the agent joins the job later
fault:init=* reported-success   joins the job later
END
UMX_BROKEN_WAY=success-on-init run 0 --expect "$work/expect" --json "$work/expect.json" -- "$broken"
jq -e '[.scenarios[] | select(.tolerated) | .name] == ["fault:init=5:down", "fault:init=-1"]
       and .counts.tolerated == 2' "$work/expect.json" >/dev/null ||
  fail "tolerated: $(jq -c '[.scenarios[] | select(.tolerated) | .name]' "$work/expect.json")"
grep -Eq '^fault:init=5:down +tolerated +reported success: exit 0 after init failed; expected: joins the job later' \
  "$work/out" || fail "the table: $(cat "$work/out")"

case="--only and --keep"
run 0 --only '*hostname*' --only cancel:init --keep "$work/kept" --json "$work/only.json" -- "$sample"
jq -e '[.scenarios[].name] == ["whole-job", "whole-job:no-cn", "fault:hostname=31", "fault:throw=hostname", "cancel:init"]' \
  "$work/only.json" >/dev/null || fail "ran $(jq -c '[.scenarios[].name]' "$work/only.json")"
jq -r '.scenarios[].kept | .root, .stdout, .stderr, .transcript' "$work/only.json" | while read -r kept; do
  [ -e "$kept" ] || echo "$kept"
done >"$work/missing"
[ ! -s "$work/missing" ] || fail "not kept: $(cat "$work/missing")"

case="--list"
run 0 --list -- /no/such/agent
grep -Eq '^cancel:getJobResultsDirectory +SIGTERM while the agent is inside getJobResultsDirectory$' \
  "$work/out" || fail "$(cat "$work/out")"
grep -q '^missing:-snapjid ' "$work/out" || fail "the default command line's options are not listed"

# What stops the check before it judges anything, and what it says.
: >"$work/not-empty-file"
mkdir "$work/not-empty" && touch "$work/not-empty/x"
printf 'fault:init=* crashd\n' >"$work/expect-typo"
cannot_run=(
  "no such agent|cannot run ./no-such-agent: no such file|-- ./no-such-agent"
  "no agent|no agent given|--json $work/x.json"
  "unknown option|unknown option --bogus|--bogus -- $sample"
  "bad -j|-j takes a whole number from 1 to 64, not \"0\"|-j 0 -- $sample"
  "bad --timeout|--timeout takes a number of seconds above 0|--timeout soon -- $sample"
  "not on the local platform|made no platform call|-- /bin/true"
  "--only names nothing|--only fault:nothing names no scenario|--only fault:nothing -- $sample"
  "expectation typo|expect-typo:1: \"crashd\" is not a failing verdict|--expect $work/expect-typo -- $sample"
  "--keep not empty|--keep $work/not-empty: the folder is not empty|--keep $work/not-empty -- $sample"
)
for row in "${cannot_run[@]}"; do
  IFS='|' read -r case said options <<<"$row"
  # shellcheck disable=SC2086 # the options are split at blanks on purpose
  run 2 $options
  grep -qF -- "$said" "$work/err" || fail "stderr does not say \"$said\": $(cat "$work/err")"
done

# A whole job that fails is the agent's failure: exit 1, its verdict, and
# the end of its stderr; the other scenarios are not reached.
whole_job_fails=(
  "whole job fails|whole job failed|exit 2 with nothing armed||-- $sample -j 1234"
  "whole job killed after its calls|crashed|killed by SIGKILL|killed-after-job|-- $broken"
)
for row in "${whole_job_fails[@]}"; do
  IFS='|' read -r case words reason way options <<<"$row"
  # shellcheck disable=SC2086 # the options are split at blanks on purpose
  UMX_BROKEN_WAY=$way run 1 $options
  grep -Eq "^whole-job +$words +$reason" "$work/out" || fail "the table: $(cat "$work/out")"
  grep -Eq '^fault:init=5:down +not reached +the whole job failed' "$work/out" ||
    fail "the other scenarios ran: $(cat "$work/out")"
done

case="--strict"
run 1 --strict --only 'fault:*' -- "$sample"
grep -q '^umx-agent-check: --strict: [0-9]* scenarios not reached$' "$work/out" ||
  fail "$(tail -2 "$work/out")"

case="--arg"
run 0 --arg -synthfull --only 'missing:*' --json "$work/arg.json" -- "$sample"
jq -e '.commandLine[-1] == "-synthfull" and ([.scenarios[] | select(.name == "missing:-synthfull")
       | .commandLine | index("-synthfull")] == [null])' "$work/arg.json" >/dev/null ||
  fail "$(jq -c '.scenarios[] | select(.name == "missing:-synthfull")' "$work/arg.json")"

case="--list --json"
run 0 --list --json "$work/list.json"
jq -e 'map(.name) | index("cancel-after:init") != null and index("crash:N") != null' "$work/list.json" \
  >/dev/null || fail "$(head -c 300 "$work/list.json")"

# Where no sandbox can be made (here: no bwrap on PATH), the check says so
# and holds each agent by its keeper alone, unless a sandbox is required.
case="no sandbox"
PATH=/nonexistent run 0 --only 'fault:init*' -- "$sample"
grep -q '^umx-agent-check: isolation: subreaper (no sandbox: cannot run bwrap: no such program on PATH)$' \
  "$work/out" || fail "the table does not say why there is no sandbox: $(cat "$work/out")"
case="--sandbox=require without one"
PATH=/nonexistent run 2 --sandbox=require -- "$sample"
grep -q 'no sandbox (--sandbox=require)' "$work/err" || fail "stderr: $(cat "$work/err")"

[ "$failures" -eq 0 ] || exit 1
echo "agent check: names each broken agent's fault, passes the sample agent (${elapsed_ms} ms)"
