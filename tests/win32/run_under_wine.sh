#!/usr/bin/env bash
# Runs the Windows test runner under Wine, with COM ports that Wine maps to
# pseudo-terminals served by target-sim (the layout is described at the top
# of tests/win32/win32_test.cpp).
#
#   run_under_wine.sh WIN32_TESTS_EXE TARGET_SIM [gtest args...]
set -euo pipefail

# shellcheck source=tests/wine_prefix.sh
source "$(dirname "$0")/../wine_prefix.sh"
wine_prefix_setup "$1"
sim="$(realpath "$2")"
shift 2

work="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    if [ -n "${xvfb_pid:-}" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
    fi
    WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
    export DISPLAY=":$((90 + RANDOM % 100))"
    Xvfb "$DISPLAY" -screen 0 1280x1024x24 >/dev/null 2>&1 &
    xvfb_pid=$!
    sleep 1
fi

# Wine draws the windows' frames itself, as there is no window manager to
# draw them (and a picture of a window then has its frame).
WINEPREFIX="$WINEPREFIX" "$wine_cmd" reg add \
    "HKCU\\Software\\Wine\\AppDefaults\\$(basename "$exe")\\X11 Driver" \
    /v Decorated /d N /f >/dev/null 2>&1

# A crash prints its backtrace and ends the program, instead of waiting
# for someone to close the crash dialog.
WINEPREFIX="$WINEPREFIX" "$wine_cmd" reg add "HKCU\\Software\\Wine\\WineDbg" \
    /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1

# No COM port but ours.
rm -f "$WINEPREFIX"/dosdevices/com*

data_win="$(WINEPREFIX="$WINEPREFIX" winepath -w "$work" 2>/dev/null)"
"$wine_cmd" "$exe" --write-images "$data_win"

# Starts a simulated machine behind a COM port; remembers its pid and log.
serve() {
    local com="$1"
    shift
    "$sim" --link "$WINEPREFIX/dosdevices/$com" "$@" >"$work/$com.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        [ -L "$WINEPREFIX/dosdevices/$com" ] && return 0
        sleep 0.05
    done
    echo "target-sim for $com did not start" >&2
    cat "$work/$com.log" >&2
    exit 1
}

serve com2 --type 0 --silent
serve com3 --type 0 --expect "$work/image0.bin"
serve com4 --type 1 --expect "$work/image1.bin"
serve com10 --type 2 --expect "$work/image2.bin"
serve com5 --type 1 --vanish-after 2
serve com6 --type 0
serve com7 --type 1 --hold-after 0
serve com8 --type 0 --silent
# The station window's four positions, named COM21 to COM24 in its station
# file: machines paced so that each download takes a second or more.
serve com21 --type 1 --turnaround 25 --expect "$work/image1.bin"
serve com22 --type 1 --turnaround 50 --expect "$work/image1.bin"
serve com23 --type 1 --turnaround 70 --expect "$work/image1.bin"
serve com24 --type 1 --turnaround 40 --stop-at 25
# A station of two positions, one of whose machines holds the line after two
# blocks; the other is paced at 9600 baud.
serve com25 --type 1 --baud 9600
serve com26 --type 1 --hold-after 2
# The station set up in a folder named in Cyrillic: two positions.
serve com15 --type 1 --turnaround 40 --expect "$work/image1.bin"
serve com16 --type 1 --turnaround 40 --expect "$work/image1.bin"

# A picture of the station window, to a Unix path or a Windows one.
if [[ "${DT_SCREENSHOT_STATION_WIN32:-}" == /* ]]; then
    DT_SCREENSHOT_STATION_WIN32="$(WINEPREFIX="$WINEPREFIX" winepath -w "$DT_SCREENSHOT_STATION_WIN32" 2>/dev/null)"
    export DT_SCREENSHOT_STATION_WIN32
fi

status=0
DT_WINE_DATA="$data_win" "$wine_cmd" "$exe" "$@" || status=$?

# Each machine's own account of what it received.
for pid in "${pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
done
for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null || true
done
pids=()
for com in com3 com4 com10 com15 com16 com21 com22 com23 com24; do
    line="$(tail -n 1 "$work/$com.log")"
    echo "$com: $line"
    case "$com:$line" in
        com24:*", stopped;"*) ;;
        com24:*) status=1 ;;
        *"matches the expected image"*) ;;
        *) status=1 ;;
    esac
done
exit "$status"
