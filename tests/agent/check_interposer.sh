#!/usr/bin/env bash
# The interposer logs each change the probe makes, in order, and none of its
# writes to stdout, stderr and transcript; killed at change N it has made and
# logged changes 1 to N-1 only; its variables leave the environment, so the
# probe's forked child and the programs it runs count nothing; and with
# neither variable set it only passes the calls on.
# Usage: check_interposer.sh <umx-agent-interposer.so> <umx-interposer-probe>
set -euo pipefail
interposer=$(realpath "$1")
probe=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset UMX_CHANGES_LOG UMX_CRASH_AT RK_LOCAL_PLATFORM_TRANSCRIPT
mkdir "$work/logs"
run=$work/run
transcript=$work/transcript.jsonl

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# probe <log> [probe options]: the probe, preloaded, in a fresh $run with
# its outputs in $work; its exit status in $status. The environment's
# UMX_CRASH_AT and RK_LOCAL_PLATFORM_TRANSCRIPT pass through.
probe() {
  local log=$1
  shift
  rm -rf "$run"
  mkdir "$run"
  status=0
  # The shell's own word of the kill is not wanted on stderr.
  { (cd "$run" && UMX_CHANGES_LOG=$log LD_PRELOAD=$interposer exec "$probe" "$@") \
    >"$work/out" 2>"$work/err" || status=$?; } 2>/dev/null
}

# The whole series, with the transcript there from the start.
: >"$transcript"
RK_LOCAL_PLATFORM_TRANSCRIPT=$transcript probe "$work/logs/full" --children
[ "$status" -eq 0 ] || fail "probe exit status $status: $(cat "$work/err")"
dir=$(cd "$run" && pwd -P)
# libstdc++ may open its files through fopen64: logged as fopen here.
expected=(
  "open $dir/a"
  "write $dir/a"
  "fopen $dir/b"
  "fflush $dir/b"
  "fclose $dir/b"
  "fopen $dir/c"
  "write $dir/c"
  "rename $dir/c"
  "unlink $dir/b"
  "mkdir $dir/e"
  'openat '"$dir"'/e/x\x09\\y'
  'write '"$dir"'/e/x\x09\\y'
  'unlinkat '"$dir"'/e/x\x09\\y'
  "rmdir $dir/e"
)
mapfile -t lines <"$work/logs/full"
[ "${#lines[@]}" -eq "${#expected[@]}" ] ||
  fail "${#lines[@]} changes logged, expected ${#expected[@]}: $(cat "$work/logs/full")"
for i in "${!expected[@]}"; do
  [ "${lines[i]/#fopen64 /fopen }" = "${expected[i]}" ] ||
    fail "change $((i + 1)) logged as '${lines[i]}', expected '${expected[i]}'"
done
! grep -e "$work/out" -e "$work/err" -e transcript "$work/logs/full" ||
  fail "writes to the outputs or the transcript logged"
grep -qx "UMX_CHANGES_LOG unset, UMX_CRASH_AT unset" "$work/out" ||
  fail "variables left in the probe's environment: $(cat "$work/out")"
for made in forked-child spawned-child spawned-folder; do
  [ -e "$run/$made" ] || fail "the probe's children did not make $made"
done
count=${#lines[@]}

# What is on the disk when the probe is killed at change N: that change
# not made, the one before it made. Each is a test, run by eval.
# shellcheck disable=SC2016
declare -A state=(
  [1]='[ ! -e a ]'
  [2]='[ -f a ] && [ ! -s a ]'
  [3]='[ -s a ] && [ ! -e b ]'
  [5]='[ "$(cat b)" = one ]'
  [8]='[ -f c ] && [ ! -e d ]'
  [9]='[ -f b ]'
  [10]='[ ! -e b ] && [ ! -e e ]'
  [14]='[ -d e ] && [ -z "$(ls -A e)" ]'
)

# Killed at each change in turn, with the transcript made only by the probe.
for n in $(seq 1 "$count"); do
  rm -f "$transcript"
  log=$work/logs/$n
  UMX_CRASH_AT=$n RK_LOCAL_PLATFORM_TRANSCRIPT=$transcript probe "$log"
  [ "$status" -eq 137 ] || fail "killed at change $n: exit status $status, expected 137"
  [ "$(wc -l <"$log")" -eq $((n - 1)) ] || fail "killed at change $n: $(wc -l <"$log") logged"
  cmp -s "$log" <(head -n $((n - 1)) "$work/logs/full") ||
    fail "killed at change $n, the log differs: $(cat "$log")"
  if [ -n "${state[$n]:-}" ]; then
    (cd "$run" && eval "${state[$n]}") || fail "killed at change $n, found: $(ls -A "$run")"
  fi
done

# Past the last change, with children: it runs to its end and logs the same.
UMX_CRASH_AT=$((count + 1)) RK_LOCAL_PLATFORM_TRANSCRIPT=$transcript probe "$work/logs/past" \
  --children
[ "$status" -eq 0 ] || fail "crash point past the end: exit status $status: $(cat "$work/err")"
cmp -s "$work/logs/past" "$work/logs/full" || fail "crash point past the end, the log differs"
grep -qx "UMX_CHANGES_LOG unset, UMX_CRASH_AT unset" "$work/out" ||
  fail "variables left in the probe's environment: $(cat "$work/out")"

# Neither variable: every call passes through.
rm -rf "$run"
mkdir "$run"
(cd "$run" && LD_PRELOAD=$interposer "$probe" --children) >"$work/out" 2>"$work/err" ||
  fail "probe without variables failed: $(cat "$work/err")"
if [ ! -f "$run/d" ] || [ ! -f "$run/a" ] || [ ! -e "$run/spawned-child" ]; then
  fail "probe without variables did not make its files: $(ls -A "$run")"
fi
echo "interposer: $count changes counted and stopped at"
