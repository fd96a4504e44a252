#!/usr/bin/env bash
# Fails on a formatting difference or a clang-tidy finding in the project's
# own code. Needs a configured dev build for its compile commands.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
echo "== clang-format (${#sources[@]} files) =="
clang-format --dry-run --Werror "${sources[@]}"

[ -f build/dev/compile_commands.json ] || cmake --preset dev >/dev/null
mapfile -t units < <(git ls-files 'src/*.cpp' 'localplatform/*.cpp' 'tools/*.cpp' 'examples/*.cpp')
echo "== clang-tidy (${#units[@]} units) =="
run-clang-tidy -quiet -p build/dev -j 2 "${units[@]/#/$PWD/}" >build/dev/clang-tidy.log 2>&1 || {
  grep -E 'warning:|error:' build/dev/clang-tidy.log | sort -u
  echo "clang-tidy found problems; the whole log is build/dev/clang-tidy.log" >&2
  exit 1
}
