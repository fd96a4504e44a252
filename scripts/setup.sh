#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. As root it runs
# apt-get; otherwise it names what is missing and fails.
set -euo pipefail

packages=(cmake ninja-build g++ clang clang-format clang-tidy libclang-rt-14-dev libboost-dev libgtest-dev libgmock-dev libbenchmark-dev pkg-config abigail-tools lintian dpkg-dev debhelper jq nlohmann-json3-dev python3-jsonschema bubblewrap time "$@")

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
