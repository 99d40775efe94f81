#!/usr/bin/env bash
# Builds the tool and starts it. With a display: the window, against the
# simulated machine on a pseudo-terminal (--demo). Without one: a whole
# download in the terminal on the headless framework. Arguments are passed
# on to the program.
set -euo pipefail

cd "$(dirname "$0")/.."
cmake -S . -B build/run -DDT_BUILD_TESTS=OFF >/dev/null
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    cmake --build build/run -j "${JOBS:-2}" --target download-tool target-sim
    exec build/run/download-tool --demo "$@"
fi
cmake --build build/run -j "${JOBS:-2}" --target headless-demo
exec build/run/headless-demo "$@"
