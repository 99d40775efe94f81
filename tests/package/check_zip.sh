#!/usr/bin/env bash
# The Windows zips, made by scripts/package.sh from the Windows builds whose
# names start with WIN_BUILD (build/win- by default): each holds, in its
# own folder, the README and every program, and the version resource of
# each window program names that program (OriginalFilename), so that
# DownloadStation.exe does not pass for DownloadTool.exe in Windows' file
# properties.
#
# Usage: tests/package/check_zip.sh [WIN_BUILD]
set -euo pipefail

cd "$(dirname "$0")/../.."
win_build="${1:-build/win-}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "zip check: $*" >&2
    exit 1
}

WIN_BUILD="$win_build" DIST="$work" scripts/package.sh zip >"$work/package.log" 2>&1 ||
    { cat "$work/package.log" >&2; fail "scripts/package.sh could not make the zips"; }

version=$(sed -n 's/^project(DownloadTool VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
for arch in i686 x86_64; do
    name="download-tool-$version-windows-$arch"
    zip="$work/$name.zip"
    [ -f "$zip" ] || fail "no $name.zip"
    unzip -q "$zip" -d "$work/$arch"
    for file in README.txt DownloadTool.exe DownloadStation.exe download-cli.exe; do
        [ -f "$work/$arch/$name/$file" ] || fail "$name.zip holds no $name/$file"
    done
    for exe in DownloadTool.exe DownloadStation.exe; do
        # The resource's strings are UTF-16: each value follows its key.
        said=$(strings -el "$work/$arch/$name/$exe" | grep -A1 -x OriginalFilename | tail -n 1)
        [ "$said" = "$exe" ] || fail "$arch $exe calls itself \"$said\""
    done
    echo "$name.zip: README.txt DownloadTool.exe DownloadStation.exe download-cli.exe"
done
