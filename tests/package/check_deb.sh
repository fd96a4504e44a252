#!/usr/bin/env bash
# Builds the Debian packages and checks each one's file list and relations;
# installs nothing.
# Usage: check_deb.sh <build dir>
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work" >/dev/null)

status=0
fail() { echo "$deb_name: $*" >&2; status=1; }


# check <package> <field>=<value>... -- <file pattern>...: every pattern
# matches a file, every file matches a pattern, and each field is as given.
check() {
  deb_name=$1
  shift
  local deb listing fields=()
  while [ "$1" != -- ]; do fields+=("$1"); shift; done
  shift
  deb=$(find "$work" -maxdepth 1 -name "${deb_name}_*.deb" | head -n1)
  [ -n "$deb" ] || { fail "not made"; return; }
  listing=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./||')
  for want in "$@"; do
    grep -Eq "^($want)$" <<<"$listing" || fail "lacks $want"
  done
  local all
  all=$(IFS='|'; echo "$*")
  while IFS= read -r file; do
    [ -z "$file" ] || grep -Eq "^($all)$" <<<"$file" || fail "holds a file it should not: $file"
  done <<<"$listing"
  for field in "${fields[@]}"; do
    local name=${field%%=*} value=${field#*=}
    [ "$(dpkg-deb -f "$deb" "$name")" = "$value" ] ||
      fail "$name is '$(dpkg-deb -f "$deb" "$name")', expected '$value'"
  done
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

check libumxclient1 "Depends=libc6, libstdc++6, umxclient-platform" -- \
  'usr/lib/libUMXClient\.so\.1' 'usr/lib/libUMXClient\.so\.1\.[0-9.]+'

check libumxclient-dev "Depends=libumxclient1 (= $version), libboost-dev (>= 1.74)" -- \
  'usr/lib/libUMXClient\.so' \
  'usr/include/umxclient/(BackupJobClient|CommonArguments|JobUtils|UMXClientExport)\.h' \
  'usr/include/umxclient/fx/(FXLockableResource|FXMutex|ThreadAnnotations|auto_lock)\.h' \
  'usr/include/umxclient/platform/[A-Za-z]+\.h' \
  'usr/lib/cmake/UMXClient/UMXClient(Config|ConfigVersion|Targets|Targets-[a-z]+)\.cmake' \
  'usr/lib/pkgconfig/umxclient\.pc'

check umxclient-local-platform "Provides=umxclient-platform" -- \
  'usr/lib/lib(QiUtils|RkJobClient)\.so' 'usr/lib/lib(QiUtils|RkJobClient)\.so\.1' \
  'usr/lib/lib(QiUtils|RkJobClient)\.so\.1\.[0-9.]+' \
  'usr/include/umxclient/localplatform/RkLocalPlatform\.h' \
  'usr/lib/cmake/UMXClient/UMXClientLocalPlatformTargets(-[a-z]+)?\.cmake'

[ "$status" -eq 0 ] && echo "packages: libumxclient1, libumxclient-dev, umxclient-local-platform as expected"
exit $status
