#!/usr/bin/env bash
# Builds the benchmarks in a Release tree of their own and runs them: the
# codec micro-benchmarks, then whole downloads over pseudo-terminals
# (bench/README.md says what the figures mean). Takes about ten minutes;
# arguments go to e2e_bench (e.g. --quick, or sections: unpaced paced
# lrzsz idle parallel; all five by default).
set -euo pipefail

cd "$(dirname "$0")/.."
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DDT_BENCH=ON -DDT_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench -j "${JOBS:-2}" --target codec_bench e2e_bench
build/bench/codec_bench
build/bench/e2e_bench "$@"
