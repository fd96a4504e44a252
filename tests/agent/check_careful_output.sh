#!/usr/bin/env bash
# What the sample agent prints and writes, on a machine it shares: every text
# it did not make is printed escaped, a closed or failing stdout neither
# corrupts the summary nor passes for success, a closed stderr corrupts
# neither the summary nor the platform's transcript, nothing is written
# outside the platform's root, and the default platform root is the user's
# own, refused rather than followed or repaired when it is not.
# Usage: check_careful_output.sh <umx-sample-agent> <umx-observe-calls module>
set -euo pipefail
agent=$1
observe=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset RK_LOCAL_PLATFORM_FAULTS RK_LOCAL_PLATFORM_TRANSCRIPT XDG_RUNTIME_DIR
export RK_LOCAL_PLATFORM_ROOT=$work/platform

failures=0
fail() {
  echo "FAIL [$case]: $*" >&2
  failures=$((failures + 1))
}

options=(-j 1234 -a 2:17 -qs zentserver.localdomain -jt token)
summary_lines='^(FilesInBackup|ScanStatistics|Streams|PhaseComplete|JobComplete)='

# run <expected status> <agent options...>: output in $work/out and $work/err.
run() {
  local expected=$1 status=0
  shift
  "$agent" "$@" >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq "$expected" ] || fail "exit status $status, expected $expected: $(cat "$work/err")"
}

# No control character but the line end reaches stdout or stderr.
expect_no_raw_controls() {
  for stream in out err; do
    if LC_ALL=C grep -qP '[\x00-\x09\x0b-\x1f\x7f]' "$work/$stream"; then
      fail "a raw control character on std$stream: $(cat -v "$work/$stream")"
    fi
  done
}

# Texts from outside, each with control characters, and what must show: an
# option's value, or the platform's answer armed by a fault list. A line end
# among them never starts a line of its own.
hostile=(
  "client name with a line end|0|\\x0aJobId=999||-cn|$'evil\nJobId=999'"
  "client name with a terminal title escape|0|\\x1b]0;pwned\\x07||-cn|$'\e]0;pwned\a'"
  "job id with a screen-clearing escape|2|\\x1b[2J||-j|$'1\e[2J'"
  "central server's name with an escape and a line end|0|evil\\x1b]0;pwned\\x07\\x0aJobId=999|$'sethostname=evil\e]0;pwned\a\nJobId=999'||"
)
for row in "${hostile[@]}"; do
  IFS='|' read -r case expected shown faults option value <<<"$row"
  eval "faults=$faults value=$value"
  rm -rf "$RK_LOCAL_PLATFORM_ROOT"
  RK_LOCAL_PLATFORM_FAULTS=$faults run "$expected" "${options[@]}" ${option:+"$option" "$value"}
  expect_no_raw_controls
  grep -qF -- "$shown" "$work/out" "$work/err" || fail "\"$shown\" is not shown"
  ! grep -q '^JobId=999' "$work/out" "$work/err" || fail "a raw line end: $(cat "$work/out")"
done

case="malformed fault item with an escape"
RK_LOCAL_PLATFORM_FAULTS=$'bogus\e[31m' run 125 "${options[@]}"
expect_no_raw_controls
grep -qF 'bogus\x1b[31m' "$work/err" || fail "the item is not quoted escaped: $(cat -v "$work/err")"

results=$RK_LOCAL_PLATFORM_ROOT/clients/localclient/JobResults/RK_JobResults/2/0/1234

# A job results directory that the platform names beside its root, or below
# it but leaving it through "..", is not taken as below it: the job fails and
# nothing is made outside the root.
beside=${RK_LOCAL_PLATFORM_ROOT}X
outside=(
  "beside the root|$beside/clients/localclient/JobResults|is not below the platform's root $RK_LOCAL_PLATFORM_ROOT"
  "leaving the root through ..|$RK_LOCAL_PLATFORM_ROOT/../x|refusing $RK_LOCAL_PLATFORM_ROOT/..: it leaves the platform's root"
)
for row in "${outside[@]}"; do
  IFS='|' read -r where dir reason <<<"$row"
  case="job results directory $where"
  rm -rf "$RK_LOCAL_PLATFORM_ROOT" "$beside" "$work/x"
  mkdir -m 700 "$beside"
  RK_LOCAL_PLATFORM_FAULTS="setresultsdir=$dir" run 1 "${options[@]}"
  grep -qF "$reason" "$work/err" || fail "stderr does not say why: $(cat "$work/err")"
  [ -z "$(ls -A "$beside")" ] || fail "written beside the root: $(find "$beside")"
  [ ! -e "$work/x" ] || fail "written outside the root: $(find "$work/x")"
  [ -z "$(find "$work" -name 'job-summary.txt*')" ] || fail "a summary was written"
done

case="stdout closed"
rm -rf "$RK_LOCAL_PLATFORM_ROOT"
status=0
"$agent" "${options[@]}" >&- 2>"$work/err" || status=$?
[ "$status" -eq 0 ] || fail "exit status $status: $(cat "$work/err")"
if grep -Ev "$summary_lines" "$results/job-summary.txt"; then
  fail "the summary holds more than summary lines"
fi
[ "$(wc -l <"$results/job-summary.txt")" -eq 5 ] || fail "the summary is not whole"

# With stderr closed, what the agent and the library say on stderr goes
# nowhere: never into the transcript of the platform's calls, whether the
# job is done or fails, nor into the summary.
for row in "done|0|" "failing|1|resultsdir=5"; do
  IFS='|' read -r outcome expected faults <<<"$row"
  case="stderr closed, job $outcome"
  rm -rf "$RK_LOCAL_PLATFORM_ROOT" "$work/transcript"
  status=0
  RK_LOCAL_PLATFORM_FAULTS=$faults RK_LOCAL_PLATFORM_TRANSCRIPT=$work/transcript \
    "$agent" "${options[@]}" >"$work/out" 2>&- || status=$?
  [ "$status" -eq "$expected" ] || fail "exit status $status, expected $expected"
  [ "$(grep -c . "$work/transcript")" -ge 4 ] || fail "the transcript is short: $(cat "$work/transcript")"
  if grep -v '^{"seq":' "$work/transcript"; then
    fail "the transcript holds more than its records"
  fi
  jq -e . "$work/transcript" >/dev/null || fail "the transcript is not JSON: $(cat "$work/transcript")"
  if [ "$expected" -eq 0 ]; then
    if grep -Ev "$summary_lines" "$results/job-summary.txt"; then
      fail "the summary holds more than summary lines"
    fi
    [ "$(wc -l <"$results/job-summary.txt")" -eq 5 ] || fail "the summary is not whole"
  fi
done

case="stdout on /dev/full"
rm -rf "$RK_LOCAL_PLATFORM_ROOT"
status=0
"$agent" "${options[@]}" >/dev/full 2>"$work/err" || status=$?
[ "$status" -eq 1 ] || fail "exit status $status, expected 1"
grep -qF "cannot write the trace to stdout: No space left on device" "$work/err" ||
  fail "stderr does not say so: $(cat "$work/err")"

case="files and directories are the user's alone"
rm -rf "$RK_LOCAL_PLATFORM_ROOT"
(umask 000 && "$agent" "${options[@]}" >/dev/null 2>"$work/err") || fail "$(cat "$work/err")"
[ "$(stat -c %a "$results/job-summary.txt")" = 600 ] || fail "summary mode $(stat -c %a "$results/job-summary.txt")"
[ "$(stat -c %a "$results")" = 700 ] || fail "results directory mode $(stat -c %a "$results")"

# With a fixed random source the summary's temporary names are known (the
# process may draw a few random numbers before): files planted at the first
# eight are never opened, a free name is taken, and the summary reaches the
# disk in order: the file flushed, renamed, the folder flushed.
case="files planted at the summary's temporary names"
rm -rf "$RK_LOCAL_PLATFORM_ROOT" "$work/calls"
mkdir -p "$results"
for byte in 00 01 02 03 04 05 06 07; do
  echo precious >"$results/job-summary.txt.partial-$byte$byte$byte$byte$byte$byte$byte$byte"
done
LD_PRELOAD=$observe UMX_OBSERVE_LOG=$work/calls ASAN_OPTIONS=verify_asan_link_order=0 \
  run 0 "${options[@]}"
[ "$(cat "$results"/job-summary.txt.partial-* | grep -c '^precious$')" -eq 8 ] ||
  fail "a planted file was written to or moved"
[ "$(wc -l <"$results/job-summary.txt")" -eq 5 ] || fail "the summary is not whole"
[ "$(tr '\n' ' ' <"$work/calls")" = "fsync file renameat fsync directory " ] ||
  fail "the summary's calls were: $(tr '\n' ' ' <"$work/calls")"

# The default root: $XDG_RUNTIME_DIR/rk-local-platform, else
# rk-local-platform-<uid> in $TMPDIR.
unset RK_LOCAL_PLATFORM_ROOT
mkdir -m 700 "$work/tmp" "$work/xdg"
default_root=$work/tmp/rk-local-platform-$(id -u)
for row in "TMPDIR|$default_root" "XDG_RUNTIME_DIR|$work/xdg/rk-local-platform"; do
  IFS='|' read -r variable root <<<"$row"
  case="default root through $variable"
  env TMPDIR="$work/tmp" "$variable=${root%/*}" "$agent" "${options[@]}" >/dev/null 2>"$work/err" ||
    fail "$(cat "$work/err")"
  [ "$(stat -c '%a %u' "$root")" = "700 $(id -u)" ] || fail "$root is $(stat -c '%a %u' "$root")"
  [ -f "$root/clients/localclient/JobResults/RK_JobResults/2/0/1234/job-summary.txt" ] ||
    fail "no summary under $root"
done

# A default root that is not the user's own is refused, and left as it was.
mkdir -m 700 "$work/elsewhere"
refused=(
  "it is a symbolic link|ln -s $work/elsewhere $default_root"
  "group or others can write to it (mode 0770)|mkdir -m 770 $default_root"
  "it is not a directory|touch $default_root"
)
for row in "${refused[@]}"; do
  IFS='|' read -r reason make <<<"$row"
  case="default root refused: $reason"
  rm -rf "$default_root"
  $make
  before=$(stat -c '%F %a' "$default_root")
  TMPDIR=$work/tmp run 1 "${options[@]}"
  grep -qF "refusing the root $default_root: $reason" "$work/err" ||
    fail "the reason is not named: $(cat "$work/err")"
  [ "$(stat -c '%F %a' "$default_root")" = "$before" ] || fail "the root was changed"
  [ -z "$(ls -A "$work/elsewhere")" ] || fail "the link was followed"
done

# A default root whose parent folder group or others can write to, without
# the sticky bit that keeps them from moving what is not theirs, is refused
# before anything is made there; a sticky one is the user's to use.
for row in "0777|1" "0770|1" "1777|0"; do
  IFS='|' read -r mode expected <<<"$row"
  case="default root's parent of mode $mode"
  rm -rf "$work/xdg" && mkdir "$work/xdg" && chmod "$mode" "$work/xdg"
  XDG_RUNTIME_DIR=$work/xdg run "$expected" "${options[@]}"
  if [ "$expected" -eq 1 ]; then
    grep -qF "refusing the root $work/xdg/rk-local-platform: its parent folder $work/xdg is writable by group or others and not sticky (mode $mode)" "$work/err" ||
      fail "the parent is not named: $(cat "$work/err")"
    [ ! -e "$work/xdg/rk-local-platform" ] || fail "the root was made"
  fi
done

[ "$failures" -eq 0 ] || exit 1
echo "sample agent: prints escaped, writes only where it should"
