#!/usr/bin/env bash
# A soak of download-cli --loop against target-sim: UNITS machines (50 by
# default), each with a fault drawn from SEED, every record checked against
# what its machine received (scripts/soak.py says how). Needs the plain
# build (scripts/test.sh plain, or cmake --build build/plain).
# Usage: scripts/soak.sh [UNITS [SEED [BUILD_DIR]]]
set -euo pipefail
cd "$(dirname "$0")/.."
UNITS="${1:-50}"
SEED="${2:-1}"
BUILD="${3:-build/plain}"
for program in download-cli target-sim; do
    if [ ! -x "$BUILD/$program" ]; then
        echo "soak: $BUILD/$program is not built (cmake --build $BUILD)" >&2
        exit 2
    fi
done
exec python3 scripts/soak.py --units "$UNITS" --seed "$SEED" --build "$BUILD"
