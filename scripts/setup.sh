#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need: the Debian
# package's build dependencies, read from debian/control, and the tools
# below that only the tests, the checks and the scripts use; arguments add
# more. As root it runs apt-get; otherwise it names what is missing and fails.
set -euo pipefail
control="$(dirname "$0")/../debian/control"

# What the build does not need: compilers and checks of the test presets,
# the test suite's libraries and tools, the benchmarks' library.
extras=(clang clang-format clang-tidy libclang-rt-14-dev libbenchmark-dev
        pkg-config abigail-tools lintian dpkg-dev jq python3-jsonschema bubblewrap time shellcheck)

# The Build-Depends fields (-Arch and -Indep too) of debian/control, one
# package a line: the first of any alternatives, without its version,
# architectures or build profiles (the tests are built, so <!nocheck> ones
# count too). debhelper-compat is a virtual package that debhelper provides.
build_depends() {
  awk '/^#/ { next }
       /^[^ \t]/ { field = tolower($0) ~ /^build-depends(-arch|-indep)?:/ }
       /^$/ { field = 0 }
       field { sub(/^[^ \t][^:]*:/, ""); print }' "$control" |
    tr ',' '\n' |
    sed -E 's/\|.*//; s/\([^)]*\)//g; s/\[[^]]*\]//g; s/<[^>]*>//g; s/[[:space:]]+//g' |
    sed -e 's/^debhelper-compat$/debhelper/' -e '/^$/d'
}

mapfile -t build < <(build_depends)
[ ${#build[@]} -gt 0 ] || { echo "setup: no Build-Depends in $control" >&2; exit 1; }
mapfile -t packages < <(printf '%s\n' "${build[@]}" "${extras[@]}" "$@" | awk '!seen[$0]++')

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "setup: missing Debian packages: ${missing[*]}" >&2
  echo "setup: install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
