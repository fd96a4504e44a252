#!/usr/bin/env bash
# The README's "Your first agent" section shows examples/first_agent.cpp
# whole: the section's first C++ block is the file, byte for byte.
# Usage: check_readme_first_agent.sh <source dir>
set -euo pipefail
source_dir=$1
awk '/^## Your first agent$/ { section = 1; next }
     section && /^## / { exit }
     section && !block && /^```cpp$/ { block = 1; next }
     block && /^```$/ { exit }
     block { print }' "$source_dir/README.md" >"${TMPDIR:-/tmp}/first_agent.$$"
trap 'rm -f "${TMPDIR:-/tmp}/first_agent.$$"' EXIT
diff -u --label "README.md, Your first agent" --label examples/first_agent.cpp \
  "${TMPDIR:-/tmp}/first_agent.$$" "$source_dir/examples/first_agent.cpp"
