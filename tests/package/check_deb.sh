#!/usr/bin/env bash
# Builds the Debian packages as Debian builds them (dpkg-buildpackage -b
# -us -uc, from debian/) in a copy of <source dir>; checks each package's
# version, files, fields and control files and that debug symbol packages
# come with them; runs lintian over them; and checks that the build fails
# when the library loses or gains an export against
# debian/libumxclient1.symbols. Then installs them with dpkg into a root of
# their own, so that nothing is installed on the machine that runs it, and
# runs there the tests of the installed packages that autopkgtest runs
# (debian/tests).
# Usage: check_deb.sh <source dir> <project version>
set -euo pipefail
source=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

command -v lintian >/dev/null || { echo "lintian is not installed (scripts/setup.sh installs it)" >&2; exit 1; }

# dpkg-buildpackage writes the packages beside the tree it builds, so it
# builds a copy in the scratch folder: the files git tracks or would track,
# as they are now.
# It is made a repository of its own, so that what the build leaves that git
# would show can be seen.
copy_tree() {
  mkdir "$1"
  git -C "$source" ls-files -z --cached --others --exclude-standard |
    tar -C "$source" --null --files-from=- --ignore-failed-read -cf - 2>/dev/null | tar -C "$1" -xf -
  git -C "$1" init -q && git -C "$1" add -A &&
    git -C "$1" -c user.name=test -c user.email=test@example.org commit -qm tree
}
tree=$work/umxclient
copy_tree "$tree"
(cd "$tree" && dpkg-buildpackage -b -us -uc) >"$work/log" 2>&1 ||
  { cat "$work/log" >&2; exit 1; }

status=0
fail() { echo "$deb_name: $*" >&2; status=1; }

deb_name=build
grep -Eq '^100% tests passed, 0 tests failed out of [1-9]' "$work/log" ||
  fail "the build did not run the unit tests: $(grep -E 'tests passed|dh_auto_test' "$work/log")"

deb_name=checkout
left=$(git -C "$tree" status --porcelain)
[ -z "$left" ] || fail "the build leaves files git shows: $left"

# Built again in another folder, time zone, umask and locale (and without
# its tests, which put nothing in a package), every package has the same
# bytes.
deb_name=reproducible
again=$work/again/umx
mkdir "$work/again"
copy_tree "$again"
(cd "$again" && umask 0002 && TZ=Pacific/Kiritimati LC_ALL=C.UTF-8 \
  DEB_BUILD_OPTIONS=nocheck dpkg-buildpackage -b -us -uc) >"$work/log-again" 2>&1 ||
  { cat "$work/log-again" >&2; exit 1; }
for deb in "$work"/*.deb; do
  cmp -s "$deb" "$work/again/$(basename "$deb")" ||
    fail "$(basename "$deb") differs between two builds of the same tree"
done

# check <package> <item>... -- <file pattern>...: every pattern matches a
# file and every file matches a pattern; files in usr/bin are 0755, all
# others 0644. An item is a control field, <field>=<value> or
# <field>~<regex>, or a control file besides control and md5sums,
# :<file>=<content>, :<file>~<regex for a line> or :<file> with any
# content; the package has no other control files.
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
      -rwxr-xr-x:usr/bin/* | -rwxr-xr-x:usr/lib/*/umxclient/umx-agent-keeper) ;;
      -rw-r--r--:usr/bin/* | -rw-r--r--:usr/lib/*/umxclient/umx-agent-keeper) fail "$file is not executable" ;;
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
      :*~*)
        name=${item%%~*} name=${name#:} value=${item#*~}
        expected+=" $name"
        grep -Eq "$value" "$control/$name" 2>/dev/null ||
          fail "control file $name is '$(cat "$control/$name" 2>/dev/null)', expected a line matching '$value'" ;;
      :*)
        name=${item#:}
        expected+=" $name"
        [ -s "$control/$name" ] || fail "has no control file $name" ;;
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

major_minor=${version%.*}
lib=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
doc() { echo "usr/share/doc/$1/(copyright|changelog\.gz)"; }
# Versioned dependencies on the C and C++ runtimes, and for programs on
# libUMXClient: none on a platform package or on the stand-ins.
system_libs='libc6 \(>= [0-9.]+\)(, libgcc-s1 \(>= [0-9.]+\))?, libstdc\+\+6 \(>= [0-9.]+\)'

check libumxclient1 "Version=$version" "Depends~^$system_libs$" Section=libs Multi-Arch=same \
  Provides= ":shlibs=libUMXClient ${version%%.*} libumxclient1 (>= $major_minor)" \
  ":triggers~^activate-noawait ldconfig$" :symbols -- \
  "$lib/libUMXClient\.so\.1" "$lib/libUMXClient\.so\.1\.[0-9.]+" "$(doc libumxclient1)"

check libumxclient-dev "Version=$version" \
  "Depends=libboost-dev (>= 1.74), libumxclient1 (= $version)" Section=libdevel Multi-Arch=same -- \
  "$lib/libUMXClient\.so" \
  'usr/include/umxclient/(BackupJobClient|CommonArguments|JobUtils|UMXClientExport)\.h' \
  'usr/include/umxclient/fx/(FXLockableResource|FXMutex|ThreadAnnotations|auto_lock)\.h' \
  'usr/include/umxclient/platform/[A-Za-z]+\.h' \
  "$lib/cmake/UMXClient/UMXClient(Config|ConfigVersion|Targets|Targets-[a-z]+|ProductPlatform)\.cmake" \
  "$lib/pkgconfig/umxclient\.pc" "$(doc libumxclient-dev)"

check umxclient-local-platform "Version=$version" \
  "Depends~^libumxclient-dev \(= $version\), $system_libs, libumxclient1 \(>= $major_minor\)$" \
  Section=libdevel Multi-Arch=no Provides= -- \
  "$lib/umxclient/local-platform/lib(QiUtils|RkJobClient)\.so\.1" \
  "$lib/umxclient/local-platform/lib(QiUtils|RkJobClient)\.so\.1\.[0-9.]+" \
  'usr/include/umxclient/localplatform/[A-Za-z]+\.h' \
  "$lib/cmake/UMXClient/UMXClientLocalPlatformTargets(-[a-z]+)?\.cmake" \
  "$lib/pkgconfig/umxclient-local-platform\.pc" "$(doc umxclient-local-platform)" \
  'usr/bin/umx-agent-check' 'usr/share/man/man1/umx-agent-check\.1\.gz' \
  "$lib/umxclient/umx-agent-keeper" "$lib/umxclient/umx-agent-interposer\.so" \
  'usr/share/umxclient/umx-agent-check-report\.schema\.json' \
  'usr/bin/umx-sample-agent' 'usr/share/man/man1/umx-sample-agent\.1\.gz' \
  'usr/share/man/man7/rk-local-platform\.7\.gz' \
  usr/share/doc/umxclient-local-platform/examples/{CMakeLists\\.txt,first_agent\\.cpp,sample_agent\\.cpp}

html=usr/share/doc/libumxclient-doc/html
check libumxclient-doc "Version=$version" Architecture=all Section=doc Multi-Arch=foreign \
  Depends= -- \
  "$html/(index|classCBackupJobClient|namespaceCArguments|namespaceCXJob)\.html" \
  "$html/(search/)?[A-Za-z0-9_.-]+\.(html|js|css|png|svg)" \
  'usr/share/doc-base/libumxclient-doc\.libumxclient' "$(doc libumxclient-doc)"
# The reference holds no path of the machine that built it.
deb_name=libumxclient-doc
mkdir "$work/doc"
dpkg-deb -x "$(find "$work" -maxdepth 1 -name 'libumxclient-doc_*.deb' | head -n1)" "$work/doc"
if grep -rlF "$tree" "$work/doc/$html" >"$work/out"; then
  fail "pages name the build tree: $(cat "$work/out")"
fi

deb_name=dbgsym
for package in libumxclient1 umxclient-local-platform; do
  compgen -G "$work/$package-dbgsym_${version}_*.deb" >/dev/null || fail "no $package-dbgsym"
done

# Every lintian tag of level error or warning that no override covers.
if ! lintian --fail-on error,warning "$work"/*.deb 2> >(grep -v 'running with root privileges' >&2); then
  echo "lintian: the tags above are errors or warnings" >&2
  status=1
fi

# The build's own step, run again on the built tree with an export lost and
# then with one gained: dpkg-gensymbols fails either way.
deb_name=symbols
symbols=$tree/debian/libumxclient1.symbols
cp "$symbols" "$work/symbols"
echo " (c++)\"CJobReport::SendJobCancelled(EJobStatus)@Base\" $major_minor" >>"$symbols"
if (cd "$tree" && debian/rules override_dh_makeshlibs) >"$work/lost" 2>&1; then
  fail "the build passes though the library lacks an export the symbols file lists"
fi
grep -q 'SendJobCancelled' "$work/lost" || fail "dpkg-gensymbols did not name the lost export: $(cat "$work/lost")"
grep -v 'CJobReport::SendJobComplete' "$work/symbols" >"$symbols"
if (cd "$tree" && debian/rules override_dh_makeshlibs) >"$work/gained" 2>&1; then
  fail "the build passes though the library exports a symbol the symbols file lacks"
fi
grep -q 'SendJobComplete' "$work/gained" || fail "dpkg-gensymbols did not name the new export: $(cat "$work/gained")"

# An empty dpkg database of its own: the packages' dependencies, all of them
# on the machine, are not in it.
deb_name=installed
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --force-depends -i "$work"/*.deb >"$work/out" 2>&1 ||
  fail "dpkg -i failed: $(cat "$work/out")"
# The tests of the installed packages (debian/tests, which autopkgtest runs
# against packages installed on a test bed), here against this root. A
# Tests: field names one test or more, split into words; the inner shell
# expands its own variables.
# shellcheck disable=SC2013
for test in $(sed -n 's/^Tests: //p' "$source/debian/tests/control"); do
  # shellcheck disable=SC2016
  if ! env -u LD_LIBRARY_PATH UMX_TEST_ROOT="$root" AUTOPKGTEST_TMP="$work/autopkgtest-$test" \
       bash -c 'mkdir -p "$AUTOPKGTEST_TMP" && "$0"' "$source/debian/tests/$test" >"$work/out" 2>&1; then
    fail "debian/tests/$test failed: $(tail -20 "$work/out")"
  fi
done

[ "$status" -eq 0 ] && echo "packages: libumxclient1, libumxclient-dev, umxclient-local-platform and their debug symbols as expected, lintian clean, the symbols file enforced; installed, they pass the autopkgtests"
exit $status
