#!/usr/bin/env bash
# Each signal that stops umx-agent-check (SIGINT, SIGTERM, SIGHUP, SIGQUIT,
# SIGPIPE), sent while a hung agent runs, and SIGPIPE from a pipe whose
# reader is gone, end it within two seconds with status 128+N, no agent left
# running and nothing left under TMPDIR; stopped (^Z) while a scenario ends
# and then sent SIGTERM, it ends by SIGTERM all the same; and killed, it
# leaves neither an agent nor a keeper behind. In a sandbox and without one.
# Usage: check_stop_signals.sh <umx-agent-check> <umx-broken-agent>
set -euo pipefail
check=$1
agent=$2
work=$(mktemp -d)
export TMPDIR=$work/tmp
mkdir "$TMPDIR"
unset RK_LOCAL_PLATFORM_FAULTS RK_LOCAL_PLATFORM_TRANSCRIPT NO_COLOR
# In each agent's command line, so that the agents can be found.
marker=agent-check-stop-$$
agent_args=(-j 1234 -a 2:17 -cn localclient -qs zentserver.localdomain -jt t -vm "$marker")

# The agents with the marker, and the keepers; the check carries the
# marker too, and is left out.
agents() {
  pgrep -f -- "-vm $marker" | grep -vx "${1:-0}" || true
  pgrep -x umx-agent-keep || true
}
cleanup() {
  local pids
  mapfile -t pids < <(agents)
  [ "${#pids[@]}" -eq 0 ] || kill -KILL "${pids[@]}" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL [$case]: $*" >&2
  failures=$((failures + 1))
}

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# after <pid> <expected status> <since, ms>: the check ended in time, with
# the status, and left nothing behind.
after() {
  local pid=$1 expected=$2 since=$3 status=0
  while kill -0 "$pid" 2>/dev/null && [ $(($(now_ms) - since)) -lt 2000 ]; do sleep 0.05; done
  if kill -0 "$pid" 2>/dev/null; then
    fail "still running 2 s after the signal"
    kill -KILL "$pid"
  fi
  wait "$pid" || status=$?
  [ "$status" -eq "$expected" ] || fail "exit status $status, expected $expected: $(cat "$work/err")"
  [ -z "$(agents)" ] || fail "agents left running: $(agents)"
  [ -z "$(ls -A "$TMPDIR")" ] || fail "left $(ls -A "$TMPDIR")"
}

# start_hanging [options]: the check, in the background as $pid, once the
# agent of a hanging scenario runs (the whole job is over by then).
start_hanging() {
  UMX_BROKEN_WAY=hang "$check" --sandbox="$mode" --timeout 30 "$@" -- "$agent" "${agent_args[@]}" \
    >"$work/out" 2>"$work/err" &
  pid=$!
  for _ in $(seq 200); do
    compgen -G "$TMPDIR/umx-agent-check-*/*hostname_31-*" >/dev/null &&
      pgrep -f -- "-vm $marker" | grep -vx "$pid" >/dev/null && break
    sleep 0.05
  done
  [ -n "$(agents "$pid")" ] || fail "no agent ran: $(cat "$work/err")"
  sleep 0.2
}

modes=(off)
if bwrap --unshare-all --unshare-user --ro-bind / / true 2>/dev/null; then modes+=(require); fi
for mode in "${modes[@]}"; do
  for signal in INT TERM HUP QUIT PIPE; do
    case="SIG$signal, sandbox $mode"
    start_hanging
    start=$(now_ms)
    kill "-$signal" "$pid"
    after "$pid" $((128 + $(kill -l "$signal"))) "$start"
  done

  # Stopped while scenarios end (their keepers gone when it resumes), it
  # writes to no keeper that could raise SIGPIPE in it.
  case="stopped, then SIGTERM, sandbox $mode"
  start_hanging -j 4
  kill -STOP "$pid"
  sleep 0.3
  kill -TERM "$pid"
  start=$(now_ms)
  kill -CONT "$pid"
  after "$pid" 143 "$start"

  # However it dies, the keepers and agents go with it, and no keeper is
  # left spinning.
  case="SIGKILL, sandbox $mode"
  start_hanging
  kill -KILL "$pid"
  { wait "$pid"; } 2>/dev/null || true
  start=$(now_ms)
  while [ -n "$(agents)" ] && [ $(($(now_ms) - start)) -lt 2000 ]; do sleep 0.05; done
  [ -z "$(agents)" ] || fail "left running 2 s after the check was killed: $(agents | tr '\n' ' ')"
  rm -rf "${TMPDIR:?}"/*
done

case="a pipe whose reader is gone"
mode=auto
exec {pipe}> >(exit 0)
wait $!
start=$(now_ms)
UMX_BROKEN_WAY=hang "$check" --timeout 30 -- "$agent" "${agent_args[@]}" 1>&"$pipe" 2>"$work/err" &
pid=$!
exec {pipe}>&-
after "$pid" 141 "$start"

[ "$failures" -eq 0 ] || exit 1
echo "agent check: each stop signal kills its agents and removes its folders"
