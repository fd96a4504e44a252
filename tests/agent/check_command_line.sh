#!/usr/bin/env bash
# umx-agent-check's command line end to end: --version, --list without an
# agent, --json - with the table on stderr, --json=FILE, report paths that
# stop the check before the agent runs and leave no file, the warning for an
# expectation that names no scenario, and outside texts escaped on stderr.
# Usage: check_command_line.sh <umx-agent-check> <umx-sample-agent> <project version>
set -euo pipefail
check=$1
sample=$2
version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work/tmp
mkdir "$TMPDIR"
unset RK_LOCAL_PLATFORM_FAULTS RK_LOCAL_PLATFORM_TRANSCRIPT NO_COLOR

# shellcheck source-path=SCRIPTDIR source=check_helpers.sh
. "$(dirname "$0")/check_helpers.sh"

# The sample agent, leaving a mark when it runs.
agent=$work/agent
printf '#!/bin/sh\ntouch "%s/ran"\nexec "%s" "$@"\n' "$work" "$sample" >"$agent"
chmod +x "$agent"

case="--version"
run 0 --version
[ "$(cat "$work/out")" = "umx-agent-check $version" ] || fail "printed $(cat "$work/out")"

case="--list without an agent"
run 0 --list
if ! { grep -q '^whole-job ' "$work/out" && grep -q '^missing:-snapjid ' "$work/out"; }; then
  fail "not the default command line's scenarios: $(cat "$work/out")"
fi
case="--list with the agent's options"
run 0 --list -- "$agent" -j 7 -a 2:17 -jt t
if ! { grep -q '^missing:-jt ' "$work/out" && ! grep -q '^missing:-snapjid ' "$work/out"; }; then
  fail "not the given command line's scenarios: $(cat "$work/out")"
fi
[ ! -e "$work/ran" ] || fail "the agent ran"

# Report paths the check cannot use stop it before the agent runs.
echo "the link's target" >"$work/target"
ln -s "$work/target" "$work/link.json"
refused=(
  "--json|$work/none/r.json|--json $work/none/r.json: no folder $work/none"
  "--junit|$work/link.json|--junit $work/link.json: a symbolic link"
  "--json|$work|--json $work: a folder"
)
for row in "${refused[@]}"; do
  IFS='|' read -r option path said <<<"$row"
  case="$option $path"
  run 2 "$option" "$path" -- "$agent"
  grep -qF -- "$said" "$work/err" || fail "stderr does not say \"$said\": $(cat "$work/err")"
  [ ! -e "$work/ran" ] || fail "the agent ran"
  [ ! -s "$work/out" ] || fail "stdout: $(cat "$work/out")"
  [ -z "$(ls -A "$TMPDIR")" ] || fail "left $(ls -A "$TMPDIR")"
done
[ "$(cat "$work/target")" = "the link's target" ] || fail "the link's target changed"

case="a report file of a check that cannot run"
run 2 --json "$work/never.json" -- /bin/true
[ ! -e "$work/never.json" ] || fail "left an empty report"

case="--json -"
run 0 --json - --only 'fault:init*' -- "$sample"
jq -e '.version == 4 and .passed' "$work/out" >/dev/null || fail "stdout is not the report alone"
grep -Eq '^fault:init=5:down +passed ' "$work/err" || fail "the table is not on stderr"

case="--json=FILE"
run 0 --json="$work/eq.json" --only cancel:init -- "$sample"
jq -e '[.scenarios[].name] == ["whole-job", "whole-job:no-cn", "cancel:init"]' "$work/eq.json" >/dev/null ||
  fail "report: $(cat "$work/eq.json")"

case="an expectation that names no scenario"
printf 'fault:nothing-like-this crashed\nfault:init=* reported success  joins later\n' \
  >"$work/expect"
run 0 --expect "$work/expect" --only 'fault:init*' -- "$sample"
grep -qxF "umx-agent-check: warning: $work/expect:1: fault:nothing-like-this names no scenario" \
  "$work/err" || fail "no warning: $(cat "$work/err")"

case="outside texts on stderr"
run 2 --only $'x\e[2J' -- "$sample"
if ! { grep -qF 'x\x1b[2J' "$work/err" && ! grep -q $'\e' "$work/err"; }; then
  fail "not escaped: $(od -c "$work/err" | head -3)"
fi

[ "$failures" -eq 0 ] || exit 1
echo "agent check: its command line takes and refuses what it should"
