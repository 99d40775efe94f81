#!/usr/bin/env bash
# The Debian package, made from an existing build: lintian finds no error in
# it; it installs with apt; its programs run from their installed paths
# (the version, and a whole download from the installed download-cli to the
# installed target-sim); it removes cleanly. A package left installed by an
# earlier run is removed first, and this one is removed again however the
# check ends. Needs root or password-less sudo; skipped otherwise.
#
# Usage: tests/package/check_deb.sh BUILD_DIR
set -euo pipefail

build=$(cd "$1" && pwd)
cd "$(dirname "$0")/../.."

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    if sudo -n true 2>/dev/null; then
        SUDO="sudo -n"
    else
        echo "package check skipped: it installs the package, which needs root or sudo"
        exit 0
    fi
fi
export DEBIAN_FRONTEND=noninteractive

work=$(mktemp -d)
sim_pid=""

installed() {
    dpkg-query -W -f='${db:Status-Status}' download-tool 2>/dev/null | grep -qv '^not-installed$'
}
purge() {
    if installed; then
        $SUDO dpkg --purge download-tool >/dev/null
    fi
}
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    purge || echo "error: could not remove download-tool" >&2
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "package check: $*" >&2
    exit 1
}

purge  # left over from an earlier run

# package.sh makes it as a release is made, runs lintian, and finds it only
# under the version CMakeLists.txt gives: its file name carries that version.
BUILD="$build" DIST="$work" scripts/package.sh deb >"$work/package.log" 2>&1 ||
    { cat "$work/package.log" >&2; fail "scripts/package.sh could not make the package"; }
sed '1d;$d' "$work/package.log"  # what lintian said, between the heading and the path
deb=$(tail -n 1 "$work/package.log")
version=$(basename "$deb" | sed -n 's/^download-tool_\([0-9.]*\)_.*\.deb$/\1/p')
[ -n "$version" ] || fail "no version in the package's name $deb"
echo "built $(basename "$deb")"

$SUDO apt-get install -y --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; fail "apt-get could not install the package"; }

for path in /usr/bin/download-tool /usr/bin/download-station /usr/bin/download-cli \
    /usr/bin/target-sim /usr/share/man/man1/download-tool.1.gz \
    /usr/share/man/man1/download-station.1.gz /usr/share/man/man1/download-cli.1.gz \
    /usr/share/man/man1/target-sim.1.gz /usr/share/applications/download-tool.desktop \
    /usr/share/applications/download-station.desktop \
    /usr/share/icons/hicolor/48x48/apps/download-tool.png \
    /usr/share/doc/download-tool/copyright /usr/share/doc/download-tool/README.md; do
    [ -e "$path" ] || fail "$path is not installed"
done
for program in download-tool download-station download-cli target-sim; do
    said=$("/usr/bin/$program" --version)
    [ "$said" = "$program $version" ] || fail "$program --version said: $said"
done

# A whole download: the installed download-cli to the installed target-sim,
# a small Lorvane 300 image so that it takes a few seconds.
head -c 2048 /dev/urandom >"$work/image.EUP"
/usr/bin/target-sim --type 0 --expect "$work/image.EUP" >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 50); do
    [ -s "$work/sim.out" ] && break
    sleep 0.1
done
port=$(head -n 1 "$work/sim.out")
[ -n "$port" ] || fail "target-sim named no port"
/usr/bin/download-cli --type 0 --port "$port" "$work/image.EUP" ||
    fail "download-cli exited with $?"
kill -TERM "$sim_pid"
sim_status=0
wait "$sim_pid" || sim_status=$?
sim_pid=""
[ "$sim_status" -eq 0 ] || fail "target-sim did not receive the image intact: $(tail -n 1 "$work/sim.out")"
echo "target-sim: $(tail -n 1 "$work/sim.out")"

$SUDO dpkg --purge download-tool >/dev/null || fail "the package did not remove"
! installed || fail "the package is still installed after removal"
for path in /usr/bin/download-cli /usr/share/doc/download-tool; do
    [ ! -e "$path" ] || fail "$path is left after removal"
done
echo "installed, ran and removed cleanly"
