#!/usr/bin/env bash
# Builds the sample agent and runs it on a sample job's command line. Extra
# arguments replace the sample command line.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target umx-sample-agent

if [ $# -eq 0 ]; then
  set -- -j 1234 -a 2:17 -cn localclient -qs zentserver.localdomain -vm vm01 \
         -jt token-5f3a -d storenode01 -snapjid 1233 -synthfull -MetaDataEnabled
fi
exec build/dev/examples/umx-sample-agent "$@"
