#!/usr/bin/env bash
# Runs the test executables of the dev build under valgrind's memcheck; fails
# on any error or definite leak. The singleton's tests need a fresh process
# each, so they run one by one.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh valgrind
cmake --preset dev >/dev/null
cmake --build --preset dev

memcheck() {
  valgrind --quiet --error-exitcode=99 --suppressions=tests/valgrind.supp \
    --leak-check=full --errors-for-leak-kinds=definite \
    --show-leak-kinds=definite "$@" >/dev/null
}

tests=build/dev/tests
for exe in umx_utils_tests umx_platform_tests umx_lock_tests umx_display_tests umx_agent_check_tests; do
  echo "-- $exe"
  memcheck "$tests/$exe"
done

echo "-- umx_singleton_tests, one process per test"
suite=""
while IFS= read -r line; do
  case "$line" in
    " "*) memcheck "$tests/umx_singleton_tests" --gtest_filter="$suite${line#  }" ;;
    *) suite=${line%% *} ;;
  esac
done < <("$tests/umx_singleton_tests" --gtest_list_tests | sed 's/  #.*//')
echo "memcheck: clean"
