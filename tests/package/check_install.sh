#!/usr/bin/env bash
# Installs the built library under a temporary prefix and builds a small
# agent against it twice, through find_package and through pkg-config, and an
# agent's test that arms a failure through UMXClient::LocalPlatform.
# Usage: check_install.sh <build dir> <source dir of the consumer>
set -euo pipefail
build=$1
consumer=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libUMXClient.so' | head -n1)")

echo "-- find_package"
cmake -S "$consumer" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
LD_LIBRARY_PATH=$libdir "$work/cmake-build/consumer" -j 42
LD_LIBRARY_PATH=$libdir "$work/cmake-build/local-platform-consumer" 2>"$work/err"
grep -qF "Failed to initialize CBackupJobClient object: 5:down" "$work/err" ||
  { echo "the armed init failure was not logged: $(cat "$work/err")" >&2; exit 1; }

echo "-- pkg-config"
export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
c++ -std=c++17 -o "$work/pc-consumer" "$consumer/main.cpp" $(pkg-config --cflags --libs umxclient)
LD_LIBRARY_PATH=$libdir "$work/pc-consumer" -j 42
