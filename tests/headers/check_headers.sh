#!/usr/bin/env bash
# Compiles each installed header alone, as an agent's first include, at
# C++11, 14, 17 and 20 with g++ and with clang++, under -Wall -Wextra
# -Wpedantic -Werror: a header that needs a later standard or that is not
# self-contained fails. The build is installed under a temporary prefix and
# the headers take the include paths its pkg-config modules give.
# Usage: check_headers.sh <build dir>
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
pcdir=$(dirname "$(find "$work/prefix" -name umxclient.pc | head -n1)")
module=umxclient
[ -e "$pcdir/umxclient-local-platform.pc" ] && module=umxclient-local-platform
cflags=$(PKG_CONFIG_PATH=$pcdir pkg-config --cflags "$module")

# One line a compilation: compiler, standard, header.
while IFS= read -r header; do
  for compiler in g++ clang++; do
    for standard in 11 14 17 20; do
      echo "$compiler $standard $header"
    done
  done
done < <(find "$work/prefix/include" -name '*.h' | sort) >"$work/jobs"

export cflags
# shellcheck disable=SC2016 # expanded by the inner shell
if ! xargs -P 2 -L 1 sh -c '
    printf "#include \"%s\"\n" "$2" |
      "$0" -std=c++$1 -Wall -Wextra -Wpedantic -Werror -fsyntax-only $cflags -x c++ - \
        2>"$2.$0.$1.log" ||
      { echo "FAIL: ${2##*/include/} with $0 -std=c++$1:"; head -n 5 "$2.$0.$1.log"; exit 255; }
  ' <"$work/jobs"; then
  echo "a header does not compile alone" >&2
  exit 1
fi
echo "headers: $(wc -l <"$work/jobs") compilations, each header alone"
