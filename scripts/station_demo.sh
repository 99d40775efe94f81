#!/usr/bin/env bash
# Builds the station window and starts it against simulated machines: a
# station of POSITIONS fixture positions (default 4), each a target-sim on a
# pseudo-terminal paced at 57600 baud, the last of them one that stops the
# download with its stop frame, so that both PASS and FAIL show. Press
# Start; each machine, once programmed, asks to be programmed again, as a
# new unit would. Closing the window ends the machines and removes the
# demo's folder (its station file and record file included).
#
#   scripts/station_demo.sh [POSITIONS]
set -euo pipefail

positions="${1:-4}"
if ! [[ "$positions" =~ ^[0-9]+$ ]] || [ "$positions" -lt 1 ] || [ "$positions" -gt 16 ]; then
    echo "station_demo.sh: POSITIONS is a number from 1 to 16" >&2
    exit 2
fi
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "station_demo.sh: the station is a window, and there is no display" >&2
    exit 1
fi

cd "$(dirname "$0")/.."
cmake -S . -B build/run -DDT_BUILD_TESTS=OFF >/dev/null
cmake --build build/run -j "${JOBS:-2}" --target download-station target-sim

folder="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$folder"
}
trap cleanup EXIT

head -c 20000 /dev/urandom >"$folder/FIRMWARE.UPL"
{
    echo "# A demonstration station: simulated machines on pseudo-terminals"
    echo "type = 1"
    echo "image = $folder/FIRMWARE.UPL"
    echo "sha256 = $(sha256sum "$folder/FIRMWARE.UPL" | cut -d' ' -f1)"
    echo "record = $folder/units.jsonl"
    echo "timeout = 3"
} >"$folder/demo.station"
for i in $(seq "$positions"); do
    faults=()
    if [ "$i" -eq "$positions" ] && [ "$positions" -gt 1 ]; then
        faults=(--stop-at 60)
    fi
    build/run/target-sim --type 1 --baud 57600 --link "$folder/pos$i" "${faults[@]}" \
        >/dev/null 2>&1 &
    pids+=($!)
    echo "port = $folder/pos$i" >>"$folder/demo.station"
done
for i in $(seq "$positions"); do
    for _ in $(seq 100); do
        [ -L "$folder/pos$i" ] && break
        sleep 0.05
    done
done
echo "station_demo.sh: $positions simulated machines; the station file is $folder/demo.station."
echo "Press Start in the window; close it (or Ctrl+C here) to end the demo."
build/run/download-station "$folder/demo.station" || true
