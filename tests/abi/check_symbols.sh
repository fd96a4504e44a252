#!/usr/bin/env bash
# Compares a library's dynamic symbols with a checked-in list, so that an
# export cannot be added or lost, nor an import change its name, by accident.
# Usage: check_symbols.sh exports|imports <library> <list> [--update]
#   exports: the names the library defines, demangled. Names only: compilers
#            give the same symbol different kind letters (a vtable is V for
#            one, D or R for another).
#   imports: the names it takes from the platform libraries, mangled, since
#            const and the parameter types are part of what the loader
#            matches. Weak references and versioned names (the C and C++
#            runtimes) are left out; the platform libraries are unversioned.
set -euo pipefail
kind=$1
lib=$2
list=$3

case "$kind" in
  exports) actual=$(nm -D --defined-only -C "$lib" | cut -d' ' -f3- | LC_ALL=C sort -u) ;;
  imports) actual=$(nm -D --undefined-only "$lib" | awk '$1 == "U" && $2 !~ /@/ { print $2 }' |
                    LC_ALL=C sort -u) ;;
  *) echo "usage: $0 exports|imports <library> <list> [--update]" >&2; exit 2 ;;
esac

if [ "${4:-}" = "--update" ]; then
  printf '%s\n' "$actual" >"$list"
  echo "wrote $list"
  exit 0
fi

if ! diff -u "$list" <(printf '%s\n' "$actual"); then
  echo "The $kind of $(basename "$lib") differ from $list (- expected, + actual)." >&2
  if [ "$kind" = imports ]; then
    echo "Demangled:" >&2
    diff <(c++filt <"$list") <(printf '%s\n' "$actual" | c++filt) | grep '^[<>]' >&2 || true
  fi
  echo "If the change is intended, run: $0 $kind $lib $list --update" >&2
  exit 1
fi
