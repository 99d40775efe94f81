#!/usr/bin/env bash
# Builds the packages into dist/: the Debian package for this machine's
# architecture (checked with lintian when it is installed) and one zip per
# Windows architecture. Usage: scripts/package.sh [deb] [zip]  (default both)
#
# The Linux build is build/package (no tests), the Windows builds are
# build/win-i686 and build/win-x86_64, shared with scripts/test.sh.
# BUILD names an existing Linux build to package as it is (the package
# check's), WIN_BUILD another start of the Windows builds' names (build/win-
# by default; the architecture ends them), DIST another folder for the
# packages.
set -euo pipefail

cd "$(dirname "$0")/.."
JOBS="${JOBS:-2}"
BUILD="${BUILD:-}"
WIN_BUILD="${WIN_BUILD:-build/win-}"
DIST="${DIST:-dist}"
WHAT=("$@")
if [ ${#WHAT[@]} -eq 0 ]; then
    WHAT=(deb zip)
fi
mkdir -p "$DIST"
DIST=$(cd "$DIST" && pwd)

# The one version, as CMake has it.
VERSION=$(sed -n 's/^project(DownloadTool VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

build_deb() {
    echo "=== Debian package ==="
    local build="$BUILD"
    if [ -z "$build" ]; then
        build=build/package
        cmake -S . -B "$build" -DDT_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
        cmake --build "$build" -j "$JOBS"
    fi
    (cd "$build" && cpack -G DEB -B "$DIST" >/dev/null)
    rm -rf "$DIST/_CPack_Packages"
    local deb
    deb=$(ls "$DIST"/download-tool_"$VERSION"_*.deb)
    if command -v lintian >/dev/null; then
        lintian --fail-on error "$deb" || { echo "lintian found errors" >&2; exit 1; }
    else
        echo "lintian not installed: not run"
    fi
    echo "$deb"
}

# Windows builds: DownloadTool.exe, DownloadStation.exe, and download-cli.exe
# where the build has it, with a short README, in a folder of their own
# inside the zip.
build_zip() {
    local arch="$1" dir="$WIN_BUILD$1"
    echo "=== Windows zip ($arch) ==="
    cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" >/dev/null
    local targets=(DownloadTool DownloadStation)
    if cmake --build "$dir" --target help | grep -q '^\.\.\. download-cli$'; then
        targets+=(download-cli)
    fi
    cmake --build "$dir" -j "$JOBS" --target "${targets[@]}"
    local name="download-tool-$VERSION-windows-$arch"
    local stage="$dir/zip/$name"
    rm -rf "$dir/zip"
    mkdir -p "$stage"
    cp "$dir/DownloadTool.exe" "$dir/DownloadStation.exe" "$stage/"
    if [ -f "$dir/download-cli.exe" ]; then
        cp "$dir/download-cli.exe" "$stage/"
    fi
    # The builds carry debugging information; the zip does not need it.
    if command -v "$arch-w64-mingw32-strip" >/dev/null; then
        "$arch-w64-mingw32-strip" "$stage"/*.exe
    fi
    # Notepad of older Windows wants CR LF line ends.
    sed -e "s/@PROJECT_VERSION@/$VERSION/" -e "s/@DT_ARCH@/$arch/" -e 's/$/\r/' \
        packaging/win32/README.txt >"$stage/README.txt"
    rm -f "$DIST/$name.zip"
    (cd "$dir/zip" && zip -qr -X "$DIST/$name.zip" "$name")
    echo "$DIST/$name.zip"
}

for what in "${WHAT[@]}"; do
    case "$what" in
        deb) build_deb ;;
        zip) build_zip i686 && build_zip x86_64 ;;
        *) echo "unknown package $what (deb or zip)" >&2; exit 2 ;;
    esac
done
