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

export DT_CLI_COMMAND="$wine_cmd $exe"
export DT_CLI_COM_DIR="$WINEPREFIX/dosdevices"
# The cases that do not depend on POSIX itself (SIGTERM, FIFOs, Linux
# paths). Wine hands a SIGINT to a console program as Ctrl+C.
filter='EachMachineType/WholeDownloadTest.*/type1:Faults/*:CliTest.NoMachine*:CliTest.Json*'
filter+=':CliTest.Record*:Ports/*:Signals/*sigint*:CliTest.LoopFinishes*'
# "done" only when true: an early end, a held line (the bounded write of
# the Win32 backend), a port lost before an answer, records that fail.
filter+=':CliTest.AMachineThatEnds*:CliTest.ABlockThePort*:CliTest.TheScanGoesOn*:Records/*'
"$tests" --gtest_filter="$filter" "$@"
