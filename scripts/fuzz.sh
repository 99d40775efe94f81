#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) in build/fuzz and runs each for a while, on a
# fresh copy of its seed corpus. Exits non-zero when a target crashes, leaks
# or hangs; the input that did it is saved under fuzz/crashes/.
#
#   FUZZ_SECONDS  seconds per target (default 30)
#   FUZZ_TARGETS  the targets to run (default: every one)
#   JOBS          build parallelism (default 2)
#
# Usage: scripts/fuzz.sh [extra libFuzzer flags...]
set -euo pipefail

cd "$(dirname "$0")/.."
JOBS="${JOBS:-2}"
SECONDS_EACH="${FUZZ_SECONDS:-30}"
TARGETS=(${FUZZ_TARGETS:-fuzz_rx_decoder fuzz_protocols})
BUILD=build/fuzz
CXX_CLANG="${CXX_CLANG:-clang++}"

cmake -S . -B "$BUILD" -DCMAKE_CXX_COMPILER="$CXX_CLANG" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DDT_FUZZ=ON -DDT_SANITIZE=address,undefined -DDT_BUILD_TESTS=OFF \
    -DDT_LINUX_FRONTEND=OFF >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target "${TARGETS[@]}"

mkdir -p fuzz/crashes
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"

failed=()
for target in "${TARGETS[@]}"; do
    work=$(mktemp -d "${TMPDIR:-/tmp}/$target-corpus-XXXXXX")
    if [ -d "fuzz/corpus/$target" ]; then
        cp -a "fuzz/corpus/$target/." "$work/"
    fi
    extra=(-max_len=4096)
    if [ "$target" = fuzz_protocols ]; then
        # Its inputs are scripts of steps; 2 kB holds a whole 128 kB
        # download, and longer inputs would only slow each run down.
        extra=(-max_len=2048)
    fi
    echo "=== $target: ${SECONDS_EACH} s ==="
    # New inputs go to the working copy; the committed seeds stay as they are.
    if "$BUILD/$target" -max_total_time="$SECONDS_EACH" -timeout=30 \
        -print_final_stats=1 -artifact_prefix="fuzz/crashes/$target-" "${extra[@]}" "$@" \
        "$work"; then
        echo "$target: no crash ($(ls "$work" | wc -l) inputs in the working corpus)"
    else
        echo "$target: FAILED; see fuzz/crashes/" >&2
        failed+=("$target")
    fi
    rm -rf "$work"
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzz: failures in ${failed[*]}" >&2
    exit 1
fi
echo "fuzz: ${#TARGETS[@]} targets ran clean"
