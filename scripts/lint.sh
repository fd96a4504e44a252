#!/usr/bin/env bash
# Fails on a formatting difference, a shellcheck finding in a shell script,
# or a clang-tidy finding in the project's own code: the library, the
# stand-ins, the tools, the examples and the tests. clang-tidy reads the
# compile commands of the dev build, configured if need be, or of the
# configured build that UMX_LINT_BUILD_DIR names.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${UMX_LINT_BUILD_DIR:-build/dev}

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
echo "== clang-format (${#sources[@]} files) =="
clang-format --dry-run --Werror "${sources[@]}"

mapfile -t scripts < <(git ls-files 'scripts/*.sh' 'tests/*.sh' 'debian/tests/*' .ci/run | grep -vx 'debian/tests/control')
echo "== shellcheck (${#scripts[@]} scripts) =="
shellcheck "${scripts[@]}"

if [ ! -f "$build/compile_commands.json" ]; then
  [ "$build" = build/dev ] || { echo "lint: $build has no compile_commands.json" >&2; exit 1; }
  cmake --preset dev >/dev/null
fi
# Each unit that the build compiles; run-clang-tidy skips the others (the
# fuzzers and benchmarks of other builds, the package and stub projects).
mapfile -t units < <(git ls-files 'src/*.cpp' 'localplatform/*.cpp' 'tools/*.cpp' 'examples/*.cpp' \
                       'tests/*.cpp')
echo "== clang-tidy (${#units[@]} units) =="
run-clang-tidy -quiet -p "$build" -j 2 "${units[@]/#/^$PWD/}" >"$build/clang-tidy.log" 2>&1 || {
  grep -E 'warning:|error:' "$build/clang-tidy.log" | sort -u
  echo "clang-tidy found problems; the whole log is $build/clang-tidy.log" >&2
  exit 1
}
