#!/usr/bin/env bash
# A second local user tries to redirect what the sample agent writes: a
# default root of theirs or a link in its place, a parent folder of the
# default root that they own or can write to, a client directory of
# theirs holding a link out of the root, and a whole results tree of theirs
# with links planted at the summary's names. Each run must fail naming the
# path, and nothing outside the root may change. It needs root, to act as
# the second user (nobody, through setpriv); otherwise it is skipped.
# Usage: replay_second_user.sh <umx-sample-agent>
set -euo pipefail
agent=$1
if [ "$(id -u)" -ne 0 ] || ! command -v setpriv >/dev/null; then
  echo "skipped: acting as a second user needs root and setpriv"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 711 "$work"
unset RK_LOCAL_PLATFORM_FAULTS RK_LOCAL_PLATFORM_ROOT XDG_RUNTIME_DIR
as_other() { setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"; }

failures=0
fail() {
  echo "FAIL [$case]: $*" >&2
  failures=$((failures + 1))
}

# What the other user aims at: a file and a folder of root's.
mkdir -m 755 "$work/victim-dir"
echo precious >"$work/victim"
chmod 666 "$work/victim"
fingerprint() { (cd "$work" && sha256sum victim && ls -A victim-dir); }
clean=$(fingerprint)

options=(-j 1234 -a 2:17 -cn localclient -qs zentserver.localdomain -jt token)
results=clients/localclient/JobResults/RK_JobResults/2/0/1234

# attack <name> <the path the failure names> <shell run as the other user>;
# the agent runs after it, with the root in $root.
attack() {
  case=$1
  local named=$2 plant=$3 status=0
  rm -rf "$work/shared"
  mkdir -m 1777 "$work/shared"
  as_other bash -c "$plant"
  "$agent" "${options[@]}" >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq 1 ] || fail "exit status $status, expected 1: $(cat "$work/err")"
  grep -qF "$named" "$work/err" || fail "the failure does not name $named: $(cat "$work/err")"
  [ "$(fingerprint)" = "$clean" ] || fail "a file outside the root changed: $(fingerprint)"
  if find "$work/shared" -name 'job-summary.txt*' -user 0 | grep -q .; then
    fail "a summary was written"
  fi
}

# The default root in a shared temporary folder, taken first by the other
# user, or a link of theirs in its place.
export TMPDIR=$work/shared
default_root=$TMPDIR/rk-local-platform-0
attack "foreign default root" "refusing the root $default_root: it is owned by uid 65534" \
  "mkdir -m 777 $default_root && mkdir -p $default_root/${results%/*} &&
   ln -s $work/victim $default_root/$results"
attack "default root a link" "refusing the root $default_root: it is a symbolic link" \
  "ln -s $work/victim-dir $default_root"

# A default root whose parent folder the other user can write to, or owns:
# they could swap the root for their own between its check and its use, so
# it is refused before anything is made there.
xdg=$work/xdg
export XDG_RUNTIME_DIR=$xdg
mkdir -m 777 "$xdg" && chmod 777 "$xdg"
attack "default root's parent writable by others" \
  "refusing the root $xdg/rk-local-platform: its parent folder $xdg is writable by group or others and not sticky (mode 0777)" \
  "ln -s $work/victim-dir $xdg/rk-local-platform"
xdg=$work/shared/xdg
export XDG_RUNTIME_DIR=$xdg
attack "default root's parent of another user" \
  "refusing the root $xdg/rk-local-platform: its parent folder $xdg is owned by uid 65534, neither this user (uid 0) nor root" \
  "mkdir -m 755 $xdg"
[ ! -e "$xdg/rk-local-platform" ] || fail "the root was made in $xdg"
unset XDG_RUNTIME_DIR

# A root named by the variable is used as given; below it nothing of the
# other user's is followed or written into.
export RK_LOCAL_PLATFORM_ROOT=$work/shared/root
root=$RK_LOCAL_PLATFORM_ROOT
attack "client directory link" "refusing $root/clients: it is owned by uid 65534" \
  "mkdir -p -m 777 $root/clients && ln -s $work/victim-dir $root/clients/localclient"
attack "planted partial summary" "refusing $root/clients: it is owned by uid 65534" \
  "mkdir -p -m 777 $root/$results && ln -s $work/victim $root/$results/job-summary.txt.partial &&
   ln -s $work/victim $root/$results/job-summary.txt && chmod -R 777 $root"
case="a link in a directory of the agent's own user"
rm -rf "$work/shared"
mkdir -m 1777 "$work/shared"
mkdir -p "$root/clients"
ln -s "$work/victim-dir" "$root/clients/localclient"
status=0
"$agent" "${options[@]}" >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 1 ] || fail "exit status $status, expected 1"
grep -qF "refusing $root/clients/localclient: it is a symbolic link" "$work/err" ||
  fail "the link is not named: $(cat "$work/err")"
[ "$(fingerprint)" = "$clean" ] || fail "a file outside the root changed"

[ "$failures" -eq 0 ] || exit 1
echo "second user: every planted link and foreign directory refused, naming its path"
