#!/usr/bin/env bash
# Builds the Debian package and checks its file list; installs nothing.
# Usage: check_deb.sh <build dir>
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work" >/dev/null)
deb=$(find "$work" -maxdepth 1 -name '*.deb' | head -n1)
[ -n "$deb" ] || { echo "no .deb was made" >&2; exit 1; }
listing=$(dpkg-deb -c "$deb" | awk '{print $6}')

status=0
for want in \
    'libUMXClient\.so\.1$' 'libUMXClient\.so\.1\.[0-9.]*$' 'libUMXClient\.so$' \
    'libQiUtils\.so\.1$' 'libRkJobClient\.so\.1$' \
    'include/umxclient/BackupJobClient\.h$' 'include/umxclient/CommonArguments\.h$' \
    'include/umxclient/JobUtils\.h$' 'include/umxclient/fx/FXMutex\.h$' \
    'include/umxclient/platform/QiError\.h$' \
    'cmake/UMXClient/UMXClientConfig\.cmake$' 'pkgconfig/umxclient\.pc$'; do
  grep -Eq "$want" <<<"$listing" || { echo "missing from the package: $want" >&2; status=1; }
done
dpkg-deb -f "$deb" Package Version Depends
exit $status
