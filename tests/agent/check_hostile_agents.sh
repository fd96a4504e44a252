#!/usr/bin/env bash
# The agent check holds against agents that try to hang it, outlive it, fool
# it, reach past their scenario or exhaust its memory, in a sandbox and in
# the subreaper keeper it falls back to: each is named with its verdict,
# each scenario ends within its time limit plus 2 s, the check's peak
# memory stays under 64 MiB, its report is whole, nothing outside the
# scenario changes, and nothing the agent started outlives the check. Rows
# marked for an ordinary user run again as one (under setpriv when the
# tests run as root).
# Usage: check_hostile_agents.sh <umx-agent-check> <umx-broken-agent> [peak KiB]
# A peak of 0 leaves memory unmeasured: a sanitizer's shadow memory is no
# measure of the check's own.
set -euo pipefail
check=$1
agent=$2
peak_limit_kb=${3:-65536}
# The rows' folders are in memory where the machine has a tmpfs: an agent
# that makes 20,000 files in each scenario measures the check, not the
# kernel's cost of making files on disk, which on some machines alone
# exceeds a scenario's time limit.
work=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
chmod 755 "$work"
leftovers() {
  pgrep -f '^sleep 1001$' || true
  pgrep -x umx-agent-keep || true
  # Threads named so too, which pgrep does not list:
  # shellcheck disable=SC2009
  ps -eLo comm= | grep -x 'sleep 1001' || true
}
trap 'pkill -KILL -f "^sleep 1001$" 2>/dev/null || true; rm -rf "$work"' EXIT
unset RK_LOCAL_PLATFORM_FAULTS RK_LOCAL_PLATFORM_TRANSCRIPT NO_COLOR UMX_BROKEN_WAY
# In a sanitizer build an agent's SIGSEGV must stay a signal, not become
# the sanitizer's report and exit status.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}handle_segv=0"
export TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}handle_segv=0"

timeout=3
failures=0
fail() {
  echo "FAIL [$way, $mode${user:+, $user}]: $*" >&2
  failures=$((failures + 1))
}

# A folder outside every scenario, which agents aim at: it must end as made.
outside=$work/outside
make_outside() {
  rm -rf "$outside"
  mkdir -p "$outside/kept"
  echo kept >"$outside/kept/file"
  chmod 750 "$outside"
}
outside_untouched() {
  [ "$(cd "$outside" && find . | sort | tr '\n' ' ')" = ". ./kept ./kept/file " ] &&
    [ "$(stat -c %a "$outside")" = 750 ] && [ "$(cat "$outside/kept/file")" = kept ]
}

mode_verdict() {  # <sandbox value> <subreaper value>
  if [ "$mode" = require ]; then echo "$1"; else echo "$2"; fi
}

# way | scenario | verdicts in a sandbox (',' between allowed ones) | what
# the detail says there | verdicts and detail without a sandbox | who
# ("user": also as an ordinary user) | the check's options beyond --json,
# --timeout and --sandbox (default: --only SCENARIO)
cases=(
  "setsid-child|fault:hostname=31|left-processes-running|1 running when it ended: sleep 1001|=|=|user|"
  "group-child|fault:hostname=31|left-processes-running|1 running when it ended: sleep 1001|=|=||"
  "kill-keeper|fault:hostname=31|left-processes-running|1 running when it ended: sleep 1001|left-processes-running|killed or stopped the check's process|user|"
  "stop-keeper|fault:hostname=31|passed|exit 1|left-processes-running|killed or stopped the check's process||"
  "process-chain|fault:hostname=31|left-processes-running|running when it ended:|=|=||"
  "many-children|fault:hostname=31|left-processes-running|20 running when it ended:|=|=||"
  "zombie-child|fault:hostname=31|passed|exit 1|=|=||"
  "zombie-leader|fault:hostname=31|left-processes-running|1 running when it ended|=|=||"
  "mount-over-proc|fault:hostname=31|left-processes-running|1 running when it ended: sleep 1001|=|=||"
  "fake-keeper-report|fault:hostname=31|left-processes-running|1 running when it ended: sleep 1001|=|=||"
  "session-leader|whole-job|passed|exit 0|=|=|user|"
  "fifo-outputs|fault:hostname=31|passed|exit 1|malformed-transcript|cannot be read as a regular file||"
  "link-transcript|fault:hostname=31|passed|exit 1|malformed-transcript|cannot be read as a regular file||"
  "cut-transcript|fault:hostname=31|malformed-transcript|transcript line 5|=|=||"
  "huge-line|fault:hostname=31|malformed-transcript|is longer than 64 KiB|=|=||"
  "deep-tree|fault:hostname=31|left-partial-results|/d/deep-partial-result|=|=||"
  "mode-000|fault:hostname=31|left-partial-results|hidden/partial-result|=|=||"
  "pause|fault:hostname=31|hung|still running when the time limit ended|=|=||"
  "raw-trace|whole-job|malformed-trace|ClientName=local client|=|=||"
  "no-results|whole-job|left-no-results|exit 0 but left nothing in|=|=||"
  "segv-on-term|cancel:getZentServerHostName|crashed|killed by SIGSEGV|=|=||"
  "flood-held|cancel:getZentServerHostName|reported-success,not-reached|exit 0|=|=||"
  "bind-mount-outside|fault:hostname=31|passed|exit 1|=|=||"
  "plant-links|whole-job|wrote-outside|changed a file outside its folders: symlink|=|=||"
  "move-sibling|fault:init=-1|passed|exit 1|passed,cannot-tell|exit 1||-j 2 --only fault:init*"
  "replace-reports|fault:hostname=31|reported-success|exit 0|=|=||"
  "stop-pipe|fault:hostname=31|passed|exit 1|=|=||-j 2 --only fault:*"
  "check-stdout|fault:hostname=31|passed|exit 1|=|=||--json - --only fault:hostname=31"
  "kill-siblings|fault:hostname=31|passed|exit 1|*||-j 4 --only fault:*"
)
# Rows that fill every scenario at 8 at a time, for the check's memory: run
# only where it is measured.
memory_cases=(
  "tiny-records|whole-job|*||=|=||-j 8 --only fault:*"
  "many-files|fault:hostname=31|passed|exit 1|=|=||-j 8 --only fault:*"
  "empty-lines|fault:hostname=31|passed|exit 1|=|=||-j 8 --only fault:*"
)
[ "$peak_limit_kb" -eq 0 ] || cases+=("${memory_cases[@]}")

# run_row <row> [ordinary user]: one row of the table in the current $mode.
run_row() {
  local scenario sandbox_verdict sandbox_detail bare_verdict bare_detail who options
  IFS='|' read -r way scenario sandbox_verdict sandbox_detail bare_verdict bare_detail who options <<<"$1"
  user=${2:-}
  [ "$bare_verdict" != = ] || bare_verdict=$sandbox_verdict
  [ "$bare_detail" != = ] || bare_detail=$sandbox_detail
  local verdict detail
  verdict=$(mode_verdict "$sandbox_verdict" "$bare_verdict")
  detail=$(mode_verdict "$sandbox_detail" "$bare_detail")
  # A user's own folder, which the check's temporary folders go under.
  local home=$work/home
  rm -rf "$home" && mkdir -p "$home/tmp"
  local as_user=()
  if [ -n "$user" ] && [ "$(id -u)" -eq 0 ]; then
    chown -R nobody:nogroup "$home"
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  fi
  make_outside
  local json=$home/report.json
  local args
  read -ra args <<<"${options:---only $scenario}"
  local to_stdout=0
  if [ "${args[0]}" = --json ]; then to_stdout=1; else args=(--json "$json" "${args[@]}"); fi
  local start elapsed_ms peak_kb
  start=$(date +%s%N)
  # The peak resident size of the check and every process it waited for.
  local out=/dev/null
  [ "$to_stdout" = 0 ] || out=$json
  UMX_BROKEN_WAY=$way UMX_HOSTILE_OUTSIDE=$outside TMPDIR=$home/tmp /usr/bin/time -f %M -o "$work/peak" \
    "${as_user[@]}" "$check" --sandbox="$mode" --timeout "$timeout" "${args[@]}" -- "$agent" \
    >"$out" 2>/dev/null || true
  peak_kb=$(tail -n 1 "$work/peak")
  elapsed_ms=$((($(date +%s%N) - start) / 1000000))
  [ -z "${UMX_VERBOSE:-}" ] || echo "$way $mode $user: $elapsed_ms ms, $peak_kb KiB" >&2
  [ "$peak_limit_kb" -eq 0 ] || [ "$peak_kb" -lt "$peak_limit_kb" ] || fail "peak memory $peak_kb KiB"
  jq -e '.version == 4' "$json" >/dev/null 2>&1 || { fail "no whole report: $(head -c 300 "$json")"; return; }
  # Each scenario within its time limit plus 2 s; and the run, which runs
  # the whole job before the rest, within twice that when one runs after it.
  jq -e --argjson limit $((timeout + 2)) '[.scenarios[].seconds // 0] | max < $limit' "$json" >/dev/null ||
    fail "a scenario took longer than its limit + 2 s"
  if [ "$(jq '.scenarios | length' "$json")" -le 2 ]; then
    [ "$elapsed_ms" -lt $((2 * (timeout + 2) * 1000)) ] || fail "took $elapsed_ms ms"
  fi
  jq -e '.counts.errors == 0' "$json" >/dev/null || fail "scenarios in error: $(jq -c .counts "$json")"
  [ "$(jq -r .isolation "$json")" = "$(mode_verdict sandbox subreaper)" ] ||
    fail "isolation $(jq -r .isolation "$json")"
  local got reason
  got=$(jq -r --arg s "$scenario" '.scenarios[] | select(.name == $s) | .verdict' "$json")
  reason=$(jq -r --arg s "$scenario" '.scenarios[] | select(.name == $s) | .reason' "$json")
  if [ "$verdict" != '*' ]; then
    case ",$verdict," in *",$got,"*) ;; *) fail "$scenario: $got ($reason), expected $verdict" ;; esac
    case "$reason" in *"$detail"*) ;; *) fail "$scenario: detail \"$reason\" lacks \"$detail\"" ;; esac
  fi
  if [ "$way" = many-children ]; then
    jq -e --arg s "$scenario" '.scenarios[] | select(.name == $s) | .leftRunning | length == 16' \
      "$json" >/dev/null || fail "not 16 named of the 20 left running"
  fi
  # In a sandbox no sibling scenario is reached either.
  if [ "$way" = kill-siblings ] && [ "$mode" = require ]; then
    jq -e '.counts.failed == 0' "$json" >/dev/null || fail "a sibling failed: $(jq -c .counts "$json")"
  fi
  outside_untouched || fail "the outside folder changed: $(cd "$outside" && find . -printf '%p %m\n')"
  [ -z "$(ls -A "$home/tmp")" ] || fail "the check left $(ls -A "$home/tmp")"
  if [ -n "$(leftovers)" ]; then
    fail "left running after the check: $(leftovers | tr '\n' ' ')"
    pkill -KILL -f '^sleep 1001$' || true
  fi
}

modes=(off)
if bwrap --unshare-all --unshare-user --ro-bind / / true 2>/dev/null; then
  modes=(require off)
else
  echo "no sandbox on this machine: the rows run without one only" >&2
fi
for mode in "${modes[@]}"; do
  for row in "${cases[@]}"; do
    run_row "$row"
    IFS='|' read -r _ _ _ _ _ _ who _ <<<"$row"
    [ "$who" != user ] || run_row "$row" nobody
  done
done

# An ordinary user's check cannot read a folder its agent left at mode 000:
# it cannot tell what is in it, and still removes it.
for mode in "${modes[@]}"; do
  run_row "mode-000|fault:hostname=31|cannot-tell|cannot open the folder hidden|=|=||" nobody
done

# Escape sequences an agent writes to every terminal it can open never
# reach the check's own, in a sandbox.
if [ "${modes[0]}" = require ]; then
  mode=require way=check-stdout user=
  UMX_BROKEN_WAY=check-stdout script -qec \
    "$(printf '%q ' "$check" --sandbox=require --only fault:hostname=31 -- "$agent")" \
    "$work/typescript" >/dev/null 2>&1 || true
  ! grep -q pwned "$work/typescript" || fail "the agent's escapes reached the terminal"
  grep -q 'fault:hostname=31 .*passed' "$work/typescript" || fail "no table: $(cat "$work/typescript")"
fi

[ "$failures" -eq 0 ] || exit 1
echo "every hostile agent was named, in time and memory, in ${modes[*]}"
