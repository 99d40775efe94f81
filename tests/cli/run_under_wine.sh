#!/usr/bin/env bash
# Runs the command-line tests (tests/cli/posix/cli_test.cpp, built for
# Linux) against the Windows build of download-cli under Wine. Each machine
# is a target-sim on a pseudo-terminal that the tests link into the Wine
# prefix as a COM port (dosdevices/comN).
#
#   run_under_wine.sh DOWNLOAD_CLI_EXE CLI_TESTS [gtest args...]
set -euo pipefail

# shellcheck source=tests/wine_prefix.sh
source "$(dirname "$0")/../wine_prefix.sh"
wine_prefix_setup "$1"
tests="$(realpath "$2")"
shift 2
# No COM port but those the tests link. One server for every run, and Wine's
# own background programs, started here: started by the first test's run,
# they would hold its output pipes open (and write to them) until they end.
rm -f "$WINEPREFIX"/dosdevices/com*
wineserver -p >/dev/null 2>&1 || true
"$wine_cmd" cmd /c exit >/dev/null 2>&1 || true
cleanup() {
    rm -f "$WINEPREFIX"/dosdevices/com*
    wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

# --list-ports lists what SetupAPI enumerates: present devices of the Ports
# class, each with its PortName in the device's registry key. Wine makes no
# such device for a dosdevices link (the COM port linked here is found by
# its name alone when opened), so a fresh prefix lists nothing. Whatever it
# lists must exit 0 and be COM ports whose PortName Wine's device registry
# holds, the same ones in text and in JSON.
ln -s /dev/null "$WINEPREFIX/dosdevices/com17"
port_names() {  # "COM5: ...", "\\.\COM17: ..." or {"port":"...",...} -> COM5, COM17
    tr -d '\r' | sed -e 's/^{"port":"//' -e 's/["].*$//' -e 's/: .*$//' -e 's/[\\]//g' \
        -e 's/^[.]//' | tr '[:lower:]' '[:upper:]'
}
text="$("$wine_cmd" "$exe" --list-ports)" || { echo "--list-ports failed" >&2; exit 1; }
json="$("$wine_cmd" "$exe" --list-ports --json)" || { echo "--list-ports --json failed" >&2; exit 1; }
known="$("$wine_cmd" reg query 'HKLM\System\CurrentControlSet\Enum' /s /v PortName 2>/dev/null |
    tr -d '\r' | awk '$1 == "PortName" { print toupper($3) }')"
listed="$(printf '%s\n' "$text" | sed '/^$/d' | port_names)"
if [ "$listed" != "$(printf '%s\n' "$json" | sed '/^$/d' | port_names)" ]; then
    printf 'text and JSON list different ports:\n%s\n%s\n' "$text" "$json" >&2
    exit 1
fi
for port in $listed; do
    if ! printf '%s\n' "$known" | grep -qx "$port" || ! [[ "$port" =~ ^COM[1-9][0-9]*$ ]]; then
        printf '%s is listed but is no COM port Wine knows:\n%s\n' "$port" "$text" >&2
        exit 1
    fi
done
echo "--list-ports under Wine: ${listed:-no port} listed"
rm -f "$WINEPREFIX/dosdevices/com17"

export DT_CLI_COMMAND="$wine_cmd $exe"
export DT_CLI_COM_DIR="$WINEPREFIX/dosdevices"
# The cases that do not depend on POSIX itself (SIGTERM, FIFOs, Linux
# paths). Wine hands a SIGINT to a console program as Ctrl+C.
filter='EachMachineType/WholeDownloadTest.*/type1:Faults/*:CliTest.NoMachine*:CliTest.Json*'
filter+=':CliTest.Record*:Ports/*:Signals/*sigint*:CliTest.LoopFinishes*'
# "done" only when true: an early end, a held line (the bounded write of
# the Win32 backend), a port lost before an answer, records that fail.
filter+=':CliTest.AMachineThatEnds*:CliTest.ABlockThePort*:CliTest.TheScanGoesOn*:Records/*'
# A station's positions, each its own loop, and the pinned image; the
# first Ctrl+C, which lets the unit under way finish and be recorded.
filter+=':CliTest.StationServes*:CliTest.ExpectSha256*:CliTest.StationFinishes*'
# A COM port written as people write it.
filter+=':CliTest.AComPortWritten*'
"$tests" --gtest_filter="$filter" "$@"
