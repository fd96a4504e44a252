#!/usr/bin/env bash
# The library as a deployment builds it: against prebuilt platform libraries
# in a folder, with no stand-in built. The folder holds the contract stubs,
# made from the platform/ declarations alone, so the build links and loads
# only if it asks nothing of the product beyond them. The build is installed
# and an agent built through the installed CMake package runs on the stubs.
# Usage: check_product_build.sh <source dir>
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$source_dir/tests/product/build_stubs.sh" "$source_dir" "$work/stubs-build" "$work/product-libs"

cmake -S "$source_dir" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DUMX_PLATFORM=product -DUMX_PRODUCT_LIBDIR="$work/product-libs" >/dev/null
cmake --build "$work/build" >/dev/null
cmake --install "$work/build" --prefix "$work/prefix" >/dev/null

status=0
fail() { echo "FAIL: $*" >&2; status=1; }

built=$(find "$work/build" "$work/prefix" -name 'libQiUtils*' -o -name 'libRkJobClient*' \
        -o -name 'umx-sample-agent' -o -path '*/localplatform/*' -o -name '*LocalPlatform*.cmake' \
        -o -name 'umxclient-local-platform.pc')
[ -z "$built" ] || fail "the product build made or installed local platform files: $built"

lib=$(find "$work/prefix" -name 'libUMXClient.so.1' | head -n1)
for needed in libQiUtils.so.1 libRkJobClient.so.1; do
  grep -qF "[$needed]" <<<"$(readelf -d "$lib")" || fail "libUMXClient does not need $needed"
done
if leaked=$(grep -rIl -e "$work/product-libs" -e "$work/build" "$work/prefix"); then
  fail "installed files hold a path of the build machine: $leaked"
fi

cmake -S "$source_dir/tests/package/consumer" -B "$work/consumer" -G Ninja \
  -DCMAKE_PREFIX_PATH="$work/prefix" -DUMX_PRODUCT_LIBDIR="$work/product-libs" >/dev/null
cmake --build "$work/consumer" >/dev/null
LD_LIBRARY_PATH=$(dirname "$lib"):$work/product-libs "$work/consumer/consumer" >/dev/null ||
  fail "the agent built through find_package did not run on the contract stubs"

[ "$status" -eq 0 ] && echo "product build: linked and loaded against the contract stubs alone"
exit $status
