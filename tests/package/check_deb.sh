#!/usr/bin/env bash
# Builds the Debian packages from a fresh build of the source that <build
# dir> was configured from, set up by the packaging preset (deb); checks each
# package's files, fields and control files, then runs lintian over them.
# Installs nothing: the packages are unpacked into a folder (dpkg -x) as
# apt-get would put them under /, and the README's example runs there:
# umx-agent-check -- umx-sample-agent, both found through PATH.
# Usage: check_deb.sh <build dir>
set -euo pipefail
build=$1
source=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

command -v lintian >/dev/null || { echo "lintian is not installed (scripts/setup.sh installs it)" >&2; exit 1; }

{
  cmake -S "$source" --preset deb -B "$work/build" &&
    cmake --build "$work/build" -j 2 &&
    (cd "$work/build" && cpack -G DEB -B "$work")
} >"$work/log" 2>&1 || { cat "$work/log" >&2; exit 1; }

status=0
fail() { echo "$deb_name: $*" >&2; status=1; }

# check <package> <item>... -- <file pattern>...: every pattern matches a
# file and every file matches a pattern; files in usr/bin are 0755, all
# others 0644. An item is a control field, <field>=<value> or
# <field>~<regex>, or a control file besides control and md5sums,
# :<file>=<content>; the package has no other control files.
check() {
  deb_name=$1
  shift
  local deb listing items=()
  while [ "$1" != -- ]; do items+=("$1"); shift; done
  shift
  deb=$(find "$work" -maxdepth 1 -name "${deb_name}_*.deb" | head -n1)
  [ -n "$deb" ] || { fail "not made"; return; }
  listing=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $6 }' | sed 's| \./| |')
  for want in "$@"; do
    grep -Eq "^[^ ]+ ($want)$" <<<"$listing" || fail "lacks $want"
  done
  local all mode file
  all=$(IFS='|'; echo "$*")
  while read -r mode file; do
    [ -n "$file" ] || continue
    grep -Eq "^($all)$" <<<"$file" || fail "holds a file it should not: $file"
    case $mode:$file in
      l*) ;;
      -rwxr-xr-x:usr/bin/*) ;;
      -rw-r--r--:usr/bin/*) fail "$file is not executable" ;;
      -rw-r--r--:*) ;;
      *) fail "$file has mode $mode, expected -rw-r--r--" ;;
    esac
  done <<<"$listing"

  local control=$work/control-$deb_name expected="control md5sums" item name value actual
  dpkg-deb --control "$deb" "$control"
  for item in "${items[@]}"; do
    case $item in
      :*=*)
        name=${item%%=*} name=${name#:} value=${item#*=}
        expected+=" $name"
        actual=$(cat "$control/$name" 2>/dev/null || true)
        [ "$actual" = "$value" ] || fail "control file $name is '$actual', expected '$value'" ;;
      *~*)
        name=${item%%~*} value=${item#*~}
        actual=$(dpkg-deb -f "$deb" "$name")
        grep -Eq "$value" <<<"$actual" || fail "$name is '$actual', expected to match '$value'" ;;
      *)
        name=${item%%=*} value=${item#*=}
        actual=$(dpkg-deb -f "$deb" "$name")
        [ "$actual" = "$value" ] || fail "$name is '$actual', expected '$value'" ;;
    esac
  done
  actual=$(find "$control" -mindepth 1 -printf '%f\n' | sort | xargs)
  expected=$(xargs -n1 <<<"$expected" | sort | xargs)
  [ "$actual" = "$expected" ] || fail "control files are '$actual', expected '$expected'"
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$work/build/CMakeCache.txt")
major_minor=${version%.*}
lib=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
doc() { echo "usr/share/doc/$1/(copyright|changelog\.gz)"; }
# Versioned dependencies on the C and C++ runtimes only: none on a platform
# package, the stand-ins or any library found in the build tree.
system_libs='libc6 \(>= [0-9.]+\)(, libgcc-s1 \(>= [0-9.]+\))?, libstdc\+\+6 \(>= [0-9.]+\)$'

check libumxclient1 "Depends~^$system_libs" Section=libs Multi-Arch=same Provides= \
  ":shlibs=libUMXClient ${version%%.*} libumxclient1 (>= $major_minor)" \
  ":triggers=activate-noawait ldconfig" -- \
  "$lib/libUMXClient\.so\.1" "$lib/libUMXClient\.so\.1\.[0-9.]+" "$(doc libumxclient1)"

check libumxclient-dev "Depends=libumxclient1 (= $version), libboost-dev (>= 1.74)" \
  Section=libdevel Multi-Arch=same -- \
  "$lib/libUMXClient\.so" \
  'usr/include/umxclient/(BackupJobClient|CommonArguments|JobUtils|UMXClientExport)\.h' \
  'usr/include/umxclient/fx/(FXLockableResource|FXMutex|ThreadAnnotations|auto_lock)\.h' \
  'usr/include/umxclient/platform/[A-Za-z]+\.h' \
  "$lib/cmake/UMXClient/UMXClient(Config|ConfigVersion|Targets|Targets-[a-z]+|ProductPlatform)\.cmake" \
  "$lib/pkgconfig/umxclient\.pc" "$(doc libumxclient-dev)"

check umxclient-local-platform \
  "Depends~^libumxclient-dev \(= $version\), $system_libs" Section=libdevel Multi-Arch=no Provides= -- \
  "$lib/umxclient/local-platform/lib(QiUtils|RkJobClient)\.so\.1" \
  "$lib/umxclient/local-platform/lib(QiUtils|RkJobClient)\.so\.1\.[0-9.]+" \
  'usr/include/umxclient/localplatform/[A-Za-z]+\.h' \
  "$lib/cmake/UMXClient/UMXClientLocalPlatformTargets(-[a-z]+)?\.cmake" \
  "$lib/pkgconfig/umxclient-local-platform\.pc" "$(doc umxclient-local-platform)" \
  'usr/bin/umx-agent-check' 'usr/share/man/man1/umx-agent-check\.1\.gz' \
  'usr/share/umxclient/umx-agent-check-report\.schema\.json' \
  'usr/bin/umx-sample-agent' 'usr/share/man/man1/umx-sample-agent\.1\.gz' \
  usr/share/doc/umxclient-local-platform/examples/{CMakeLists\\.txt,first_agent\\.cpp,sample_agent\\.cpp}

# Every lintian tag of level error or warning that no override covers.
if ! lintian --fail-on error,warning "$work"/*.deb 2> >(grep -v 'running with root privileges' >&2); then
  echo "lintian: the tags above are errors or warnings" >&2
  status=1
fi

deb_name=unpacked
root=$work/root
for deb in "$work"/*.deb; do dpkg -x "$deb" "$root"; done
if ! env -u LD_LIBRARY_PATH PATH="$root/usr/bin:$PATH" \
     umx-agent-check -- umx-sample-agent >"$work/out" 2>&1; then
  fail "umx-agent-check -- umx-sample-agent failed: $(cat "$work/out")"
fi

[ "$status" -eq 0 ] && echo "packages: libumxclient1, libumxclient-dev, umxclient-local-platform as expected, lintian clean, the sample agent checked as unpacked"
exit $status
