#!/usr/bin/env bash
# Builds the tool and runs a whole download against the simulated machine.
# Arguments are passed on to the program.
set -euo pipefail

cd "$(dirname "$0")/.."
cmake -S . -B build/plain -DDT_BUILD_TESTS=OFF >/dev/null
cmake --build build/plain -j "${JOBS:-2}" --target headless-demo
exec build/plain/headless-demo "$@"
