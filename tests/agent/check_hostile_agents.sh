#!/usr/bin/env bash
# The agent check holds against agents that try to hang it, outlive it, fool
# it or exhaust its memory: each is named with its own verdict, within the
# time limit plus 2 s, with the check's peak memory under 64 MiB, and
# nothing the agent started is left running afterwards.
# Usage: check_hostile_agents.sh <umx-agent-check> <folder of umx-broken-agent-*> [peak KiB]
# A peak of 0 leaves memory unmeasured: a sanitizer's shadow memory is no
# measure of the check's own.
set -euo pipefail
check=$1
agents=$2
peak_limit_kb=${3:-65536}
work=$(mktemp -d)
trap 'pkill -KILL -f "^sleep 1001$" 2>/dev/null || true; rm -rf "$work"' EXIT
unset RK_LOCAL_PLATFORM_FAULTS RK_LOCAL_PLATFORM_TRANSCRIPT NO_COLOR
# In a sanitizer build an agent's SIGSEGV must stay a signal, not become
# the sanitizer's report and exit status.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}handle_segv=0"
export TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}handle_segv=0"

timeout=2
failures=0
fail() {
  echo "FAIL [$way]: $*" >&2
  failures=$((failures + 1))
}

# way | scenario | verdict | what the detail says
cases=(
  "setsid-child|fault:hostname=31|left-processes-running|1 running when it ended: sleep 1001"
  "group-child|fault:hostname=31|left-processes-running|1 running when it ended: sleep 1001"
  "kill-keeper|fault:hostname=31|left-processes-running|killed the check's process that watched it"
  "process-chain|fault:hostname=31|left-processes-running|running when it ended:"
  "fifo-outputs|fault:hostname=31|malformed-transcript|cannot be read as a regular file"
  "cut-transcript|fault:hostname=31|malformed-transcript|transcript line 5"
  "huge-line|fault:hostname=31|malformed-transcript|last line is longer than 64 KiB"
  "deep-tree|fault:hostname=31|left-partial-results|/d/deep-partial-result"
  "pause|fault:hostname=31|hung|still running when the time limit ended"
  "raw-trace|whole-job|malformed-trace|ClientName=local client"
  "no-results|whole-job|left-no-results|exit 0 but left nothing in"
  "segv-on-term|cancel:getZentServerHostName|crashed|killed by SIGSEGV"
)
for row in "${cases[@]}"; do
  IFS='|' read -r way scenario verdict detail <<<"$row"
  json=$work/$way.json
  start=$(date +%s%N)
  status=0
  # The peak resident size of the check and every process it waited for.
  peak_kb=$(python3 -c '
import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' \
    "$check" --timeout "$timeout" --json "$json" --only "$scenario" -- \
    "$agents/umx-broken-agent-$way")
  elapsed_ms=$((($(date +%s%N) - start) / 1000000))
  # The whole job and the scenario, each within the time limit plus 2 s.
  [ "$elapsed_ms" -lt $((2 * (timeout + 2) * 1000)) ] || fail "took $elapsed_ms ms"
  [ "$peak_limit_kb" -eq 0 ] || [ "$peak_kb" -lt "$peak_limit_kb" ] || fail "peak memory $peak_kb KiB"
  [ -s "$json" ] || { fail "no report"; continue; }
  got=$(jq -r --arg s "$scenario" '.scenarios[] | select(.name == $s) | .verdict' "$json")
  reason=$(jq -r --arg s "$scenario" '.scenarios[] | select(.name == $s) | .reason' "$json")
  [ "$got" = "$verdict" ] || fail "$scenario: $got ($reason), expected $verdict"
  case "$reason" in *"$detail"*) ;; *) fail "$scenario: detail \"$reason\" lacks \"$detail\"" ;; esac
  if pgrep -f '^sleep 1001$' >/dev/null; then
    fail "left a process running after the check"
    pkill -KILL -f '^sleep 1001$' || true
  fi
done

[ "$failures" -eq 0 ] || exit 1
echo "every hostile agent was named, in time and memory"
