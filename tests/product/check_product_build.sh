#!/usr/bin/env bash
# The library as a deployment builds it: against prebuilt platform libraries
# in a folder, with no stand-in built. The two stand-in libraries are copied
# alone into a folder, a second build is configured in product mode against
# it and installed, and its sample agent runs a whole job with them.
# Usage: check_product_build.sh <source dir> <libQiUtils.so.1> <libRkJobClient.so.1>
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir "$work/product-libs"
cp -L "$2" "$work/product-libs/libQiUtils.so.1"
cp -L "$3" "$work/product-libs/libRkJobClient.so.1"

cmake -S "$source_dir" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DUMX_PLATFORM=product -DUMX_PRODUCT_LIBDIR="$work/product-libs" >/dev/null
cmake --build "$work/build" >/dev/null
cmake --install "$work/build" --prefix "$work/prefix" >/dev/null

status=0
fail() { echo "FAIL: $*" >&2; status=1; }

built=$(find "$work/build" "$work/prefix" -name 'libQiUtils*' -o -name 'libRkJobClient*' \
        -o -name 'RkLocalPlatform.h' -o -name '*LocalPlatform*.cmake')
[ -z "$built" ] || fail "the product build made or installed local platform files: $built"

lib=$(find "$work/prefix" -name 'libUMXClient.so.1' | head -n1)
for needed in libQiUtils.so.1 libRkJobClient.so.1; do
  readelf -d "$lib" | grep -qF "[$needed]" || fail "libUMXClient does not need $needed"
done

export RK_LOCAL_PLATFORM_ROOT=$work/platform
agent_status=0
LD_LIBRARY_PATH=$work/product-libs "$work/prefix/bin/umx-sample-agent" \
  -j 77 -a 2:17 -cn localclient -qs zentserver.localdomain -jt token \
  >"$work/out" 2>"$work/err" || agent_status=$?
[ "$agent_status" -eq 0 ] || fail "the sample agent exited $agent_status: $(cat "$work/err")"
summary=$RK_LOCAL_PLATFORM_ROOT/clients/localclient/JobResults/RK_JobResults/2/0/77/job-summary.txt
grep -qF "JobComplete=JMSUCCESS" "$summary" 2>/dev/null || fail "no completed job in $summary"

# An agent built through the installed CMake package finds the same libraries.
cmake -S "$source_dir/tests/package/consumer" -B "$work/consumer" -G Ninja \
  -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
LD_LIBRARY_PATH=$(dirname "$lib"):$work/product-libs "$work/consumer/consumer" -j 42 >/dev/null ||
  fail "the consumer built through find_package did not run"

[ "$status" -eq 0 ] && echo "product build: built against $work/product-libs, the sample agent ran a whole job"
exit $status
