#!/usr/bin/env bash
# Builds and runs every test: a plain build, then the Debian package made
# from it (installed, run and removed again), then AddressSanitizer with
# UndefinedBehaviorSanitizer, then ThreadSanitizer. Window tests run under
# Xvfb. Usage: scripts/test.sh [plain|package|asan|tsan]...
set -euo pipefail

cd "$(dirname "$0")/.."
JOBS="${JOBS:-2}"
VARIANTS=("$@")
if [ ${#VARIANTS[@]} -eq 0 ]; then
    VARIANTS=(plain package asan tsan)
fi

# The check that the code is formatted as .clang-format says. It names
# each file that is not, with clang-format's first complaint about it.
if command -v clang-format >/dev/null; then
    files=$(git ls-files '*.cpp' '*.h' 2>/dev/null || true)
    if [ -n "$files" ] && ! report=$(clang-format --dry-run -Werror $files 2>&1); then
        echo "error: code is not formatted as .clang-format says:" >&2
        # One line per file: "path:line:col: error: ..." and the line after.
        awk -F: '/: error: / && !seen[$1]++ { print "  " $0; getline; print "    " $0 }' \
            <<<"$report" >&2
        grep -q ': error: ' <<<"$report" || echo "$report" >&2
        echo "run: clang-format -i FILE..." >&2
        exit 1
    fi
fi

# -noreset: an X server resets itself when its last client leaves and drops
# whoever is connecting at that moment. The window tests run one process
# each, in parallel, so one would now and then start while another left and
# fail with "cannot open a display".
XVFB_ARGS="-screen 0 1280x1024x24 -noreset"

run_ctest() {
    local dir="$1"
    if command -v xvfb-run >/dev/null; then
        xvfb-run -a -s "$XVFB_ARGS" ctest --test-dir "$dir" --output-on-failure -j "$JOBS"
    else
        ctest --test-dir "$dir" --output-on-failure -j "$JOBS"
    fi
}

# The Windows build: both executables, the 32-bit one checked from its PE
# header, and the 64-bit test runner run under Wine against target-sim.
windows_tests() {
    for arch in i686 x86_64; do
        cmake -S . -B "build/win-$arch" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" >/dev/null
    done
    cmake --build build/win-i686 -j "$JOBS" --target DownloadTool DownloadStation download-cli
    cmake --build build/win-x86_64 -j "$JOBS" --target DownloadTool DownloadStation download-cli \
        win32_tests
    bash tests/win32/check_pe.sh build/win-i686/DownloadTool.exe 32
    bash tests/win32/check_pe.sh build/win-x86_64/DownloadTool.exe 64
    bash tests/win32/check_pe.sh build/win-i686/DownloadStation.exe 32
    bash tests/win32/check_pe.sh build/win-x86_64/DownloadStation.exe 64
    bash tests/win32/check_pe.sh build/win-i686/download-cli.exe 32 console
    bash tests/win32/check_pe.sh build/win-x86_64/download-cli.exe 64 console
    cmake --build build/plain -j "$JOBS" --target target-sim cli_tests
    echo "=== the Windows zips ==="
    bash tests/package/check_zip.sh build/win-
    echo "=== Windows tests under Wine ==="
    local failed=0
    if xvfb-run -a -s "$XVFB_ARGS" bash tests/win32/run_under_wine.sh \
        build/win-x86_64/win32_tests.exe build/plain/target-sim; then
        echo "windows: window tests passed"
    else
        echo "windows: window tests FAILED"
        failed=1
    fi
    echo "=== download-cli.exe under Wine, with the command-line tests ==="
    if bash tests/cli/run_under_wine.sh build/win-x86_64/download-cli.exe build/plain/cli_tests; then
        echo "windows: command-line tests passed"
    else
        echo "windows: command-line tests FAILED"
        failed=1
    fi
    return "$failed"
}

# The package made from the plain build's binaries: lintian, install, the
# installed programs (a whole download among them), removal.
package_tests() {
    cmake -S . -B build/plain -DDT_BUILD_TESTS=ON -DDT_LINUX_FRONTEND=ON >/dev/null
    cmake --build build/plain -j "$JOBS"
    if bash tests/package/check_deb.sh build/plain; then
        echo "package: 1 passed, 0 failed"
    else
        echo "package: 0 passed, 1 failed"
        return 1
    fi
}

for variant in "${VARIANTS[@]}"; do
    if [ "$variant" = package ]; then
        echo "=== package check ==="
        package_tests
        continue
    fi
    echo "=== $variant build ==="
    case "$variant" in
        plain) flags=() ;;
        asan) flags=(-DDT_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug) ;;
        tsan) flags=(-DDT_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug) ;;
        *) echo "unknown variant $variant" >&2; exit 2 ;;
    esac
    cmake -S . -B "build/$variant" -DDT_BUILD_TESTS=ON -DDT_LINUX_FRONTEND=ON "${flags[@]}" >/dev/null
    cmake --build "build/$variant" -j "$JOBS"
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" \
        run_ctest "build/$variant"
    if [ "$variant" = plain ] && [ -z "${DT_SKIP_WINDOWS:-}" ]; then
        windows_tests
    fi
    if [ "$variant" = plain ] && [ -z "${DT_SKIP_SOAK:-}" ]; then
        echo "=== a short soak: download-cli --loop against faulty machines ==="
        bash scripts/soak.sh "${SOAK_UNITS:-50}" "${SOAK_SEED:-1}" build/plain
    fi
    if [ "$variant" = plain ] && [ -z "${DT_SKIP_FUZZ:-}" ]; then
        echo "=== a short fuzzing run ==="
        FUZZ_SECONDS="${FUZZ_SECONDS:-20}" JOBS="$JOBS" bash scripts/fuzz.sh
    fi
done
