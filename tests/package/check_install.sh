#!/usr/bin/env bash
# Installs the built library and local platform under one prefix and builds
# agents against it, as a deployment's machine and an agent's developer do:
#  - through find_package(UMXClient): the product's platform. Without it the
#    configure step fails naming both ways out; with the contract stubs as
#    the product it builds, and told only of the prefix's library folder the
#    agent does not start (the stand-ins are never found by chance);
#  - through find_package(UMXClient COMPONENTS LocalPlatform): the agent's
#    test runs a whole job on the stand-ins found through its run path;
#  - an agent's build with the other std::string ABI is told so when it is
#    configured;
#  - the same two ways through pkg-config;
#  - the installed sample agent runs a whole job with no variable set, and
#    passes the installed agent check;
#  - the installed examples build against the prefix, the first agent
#    through the installed CMakeLists and through pkg-config, and each
#    passes the agent check with no expectations file.
# No installed text file may hold a path of the build machine; the
# installed manual pages carry the project's version.
# Usage: check_install.sh <build dir> <source dir>
set -euo pipefail
build=$1
source_dir=$2
consumer=$source_dir/tests/package/consumer
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libUMXClient.so' | head -n1)")
platformdir=$libdir/umxclient/local-platform
"$source_dir/tests/product/build_stubs.sh" "$source_dir" "$work/stubs-build" "$work/product"
export RK_LOCAL_PLATFORM_ROOT=$work/platform

[ -e "$platformdir/libQiUtils.so.1" ] || fail "the stand-ins are not in $platformdir"
if compgen -G "$libdir/lib[QR][ik]*" >/dev/null; then
  fail "stand-ins on the loader's path: $(ls "$libdir")"
fi
# The platform contract declares nothing that only the stand-ins have.
if extras=$(grep -rlwE 'CStreamLogWriter|FXErrorFrame|FXErrorKind|GetFrames|CLocalCommandLineArguments' \
              "$prefix/include/umxclient/platform"); then
  fail "platform headers declare the stand-ins' extras: $extras"
fi
if leaked=$(grep -rIl -e "$build" -e "$source_dir" "$prefix"); then
  fail "installed files hold a path of the build machine: $leaked"
fi

# expect_no_standins <program>: told of the library folder only, the program
# does not start, and the loader names the platform library it misses.
expect_no_standins() {
  local mapped
  mapped=$(ldd "$1" 2>&1 || true)
  if grep -q "local-platform" <<<"$mapped"; then fail "$1 maps the stand-ins: $mapped"; fi
  if LD_LIBRARY_PATH=$libdir "$1" 2>"$work/err"; then
    fail "$1 started without the product's platform"
  fi
  grep -qE "lib(QiUtils|RkJobClient)\.so\.1: cannot open shared object file" "$work/err" ||
    fail "the loader did not name the missing platform library: $(cat "$work/err")"
  LD_LIBRARY_PATH=$libdir:$work/product "$1" >/dev/null || fail "$1 did not run on the stubs"
}

# run_whole_job <program>: told of the library folder only, the program runs
# a whole job on the stand-ins.
run_whole_job() {
  local mapped
  mapped=$(ldd "$1")
  grep -q "local-platform/libRkJobClient.so.1" <<<"$mapped" ||
    fail "$1 does not map the stand-ins: $mapped"
  LD_LIBRARY_PATH=$libdir "$1" -j 42 -cn localclient >"$work/out" 2>"$work/err" ||
    fail "$1 failed: $(cat "$work/err")"
  grep -qF "results=$RK_LOCAL_PLATFORM_ROOT/clients/localclient/JobResults/RK_JobResults/2/0/42" \
    "$work/out" || fail "$1 did not find the job's results: $(cat "$work/out")"
  grep -qF "Failed to initialize CBackupJobClient object: 5:down" "$work/err" ||
    fail "$1: the armed init failure was not logged: $(cat "$work/err")"
}

echo "-- find_package(UMXClient) with no product platform"
if cmake -S "$consumer" -B "$work/no-platform" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
     >"$work/configure" 2>&1; then
  fail "configured without the product's platform"
fi
said_all=$(tr -s ' \n' ' ' <"$work/configure")
for said in UMX_PRODUCT_LIBDIR "COMPONENTS LocalPlatform" libQiUtils.so.1 \
  "libRkJobClient.so.1 in the linker's default folders could not be found."; do
  grep -qF "$said" <<<"$said_all" ||
    fail "the configure failure does not name $said: $(cat "$work/configure")"
done
if grep -q ';' "$work/configure"; then
  fail "the configure failure is a list, not a sentence: $(cat "$work/configure")"
fi

echo "-- find_package(UMXClient) from a build with the other string ABI"
if cmake -S "$consumer" -B "$work/other-abi" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
     -DUMX_PRODUCT_LIBDIR="$work/product" -DCMAKE_CXX_FLAGS=-D_GLIBCXX_USE_CXX11_ABI=0 \
     >"$work/configure" 2>&1; then
  fail "configured with the other string ABI"
fi
said_all=$(tr -s ' \n' ' ' <"$work/configure")
grep -qF "string ABI (_GLIBCXX_USE_CXX11_ABI=1" <<<"$said_all" ||
  fail "the configure failure does not name the string ABI: $(cat "$work/configure")"

echo "-- find_package(UMXClient), the product's platform"
cmake -S "$consumer" -B "$work/product-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DUMX_PRODUCT_LIBDIR="$work/product" >/dev/null
cmake --build "$work/product-build" >/dev/null
expect_no_standins "$work/product-build/consumer"

echo "-- find_package(UMXClient COMPONENTS LocalPlatform)"
cmake -S "$consumer" -B "$work/kit-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DWITH_LOCAL_PLATFORM=ON >/dev/null
cmake --build "$work/kit-build" >/dev/null
run_whole_job "$work/kit-build/local-platform-consumer"

echo "-- pkg-config"
export PKG_CONFIG_PATH=$libdir/pkgconfig
# clang's default standard, C++14, as an agent's build that names none.
# shellcheck disable=SC2046
LIBRARY_PATH=$work/product clang++ -o "$work/pc-consumer" "$consumer/main.cpp" \
  $(pkg-config --cflags --libs umxclient)
expect_no_standins "$work/pc-consumer"
# shellcheck disable=SC2046
c++ -std=c++11 -o "$work/pc-kit-consumer" "$consumer/local_platform.cpp" \
  $(pkg-config --cflags --libs umxclient-local-platform)
run_whole_job "$work/pc-kit-consumer"
rpath=$(readelf -d "$work/pc-kit-consumer" | sed -n 's/.*(RPATH).*\[\(.*\)\]$/\1/p')
[ "$rpath" = "$(realpath "$platformdir")" ] ||
  fail "the pkg-config run path is '$rpath', not the stand-ins' folder $(realpath "$platformdir")"

echo "-- pkg-config, an unpacked tree through PKG_CONFIG_SYSROOT_DIR"
# Installed for /usr, unpacked elsewhere, as a package's files are by
# dpkg-deb -x: every path pkg-config gives points inside the tree, clean.
unpacked=$work/unpacked
DESTDIR=$unpacked cmake --install "$build" --prefix /usr >/dev/null
unpacked_pc=$(dirname "$(find "$unpacked" -name 'umxclient.pc' | head -n1)")
flags=$(PKG_CONFIG_SYSROOT_DIR=$unpacked PKG_CONFIG_PATH=$unpacked_pc \
  pkg-config --cflags --libs umxclient-local-platform)
for flag in $flags; do
  case $flag in
    -I* | -L*) path=${flag:2} ;;
    -Wl,*-rpath,*) path=${flag##*-rpath,} ;;
    *) continue ;;
  esac
  case $path in
    "$unpacked"/*) ;;
    *) fail "pkg-config's $flag is outside the unpacked tree" ;;
  esac
  [[ $path != *"/../"* && $path != *"//"* && $path != *"/./"* ]] || fail "pkg-config's $flag is no clean path"
done
# shellcheck disable=SC2086 # the flags are words
c++ -std=c++11 -o "$work/sysroot-kit-consumer" "$consumer/local_platform.cpp" $flags
run_whole_job "$work/sysroot-kit-consumer"

echo "-- the installed sample agent"
env -u LD_LIBRARY_PATH "$prefix/bin/umx-sample-agent" -j 7 -a 2:17 -cn localclient \
  -qs zentserver.localdomain -jt token >/dev/null 2>"$work/err" ||
  fail "the installed sample agent failed: $(cat "$work/err")"

echo "-- the installed agent check, on the installed sample agent"
env -u LD_LIBRARY_PATH "$prefix/bin/umx-agent-check" -- "$prefix/bin/umx-sample-agent" \
  >"$work/out" 2>"$work/err" || fail "the installed agent check failed: $(cat "$work/err" "$work/out")"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
for page in umx-agent-check umx-sample-agent; do
  man=$(find "$prefix" -name "$page.1.gz" | head -n1)
  [ -f "$man" ] || { fail "no manual page for $page"; continue; }
  zcat "$man" | head -n1 | grep -qF "\"UMXClient $version\"" ||
    fail "the manual page of $page is not of version $version: $(zcat "$man" | head -n1)"
done

# check_agent <agent> [<library path>]: the installed agent check passes it
# with no expectations file, with LD_LIBRARY_PATH unset or the path given.
check_agent() {
  env -u LD_LIBRARY_PATH ${2:+LD_LIBRARY_PATH="$2"} "$prefix/bin/umx-agent-check" -- "$1" \
    >"$work/out" 2>"$work/err" || fail "the agent check failed $1: $(cat "$work/err" "$work/out")"
}

echo "-- the installed examples, built through their CMakeLists"
examples=$(dirname "$(find "$prefix" -path '*/examples/first_agent.cpp' | head -n1)")
cmake -S "$examples" -B "$work/examples" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/examples" >/dev/null
check_agent "$work/examples/first-agent"
check_agent "$work/examples/umx-sample-agent"

echo "-- the first agent, built through pkg-config"
# shellcheck disable=SC2046
c++ -std=c++17 -o "$work/pc-first-agent" "$examples/first_agent.cpp" \
  $(pkg-config --cflags --libs umxclient-local-platform)
# As every program linked through pkg-config here, it finds libUMXClient
# through the loader's path; the stand-ins through its run path.
check_agent "$work/pc-first-agent" "$libdir"

[ "$status" -eq 0 ] && echo "install: the product's platform unless the kit is asked for"
exit $status
