#!/bin/sh
# Makes the pictures in docs/, on a virtual display with a window manager
# (openbox) so that the title bars show:
#
#   docs/screenshot.png  the main window mid-download
#   docs/station.png     the station window with four positions mid-run
#
#   scripts/make_screenshot.sh BUILD_DIR
#
# BUILD_DIR holds a built gtk_tests; the pictures are the ones its tests
# DownloadTest.ScreenshotMidDownload and StationWindowGtkTest.* take.
set -eu
build=$(cd "${1:?usage: make_screenshot.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
docs="$here/../docs"
command -v openbox >/dev/null || { echo "make_screenshot.sh: needs openbox" >&2; exit 1; }
mkdir -p "$docs"

# shoot VAR=PATH SCREEN FILTER: runs the tests FILTER of gtk_tests with
# VAR set to PATH, on a screen of SCREEN (WIDTHxHEIGHT), the window manager
# up first.
shoot() {
  env "$1" xvfb-run -a -s "-screen 0 $2x24" sh -c "
    openbox --config-file '$here/screenshot-openbox.xml' >/dev/null 2>&1 &
    sleep 1
    '$build/gtk_tests' --gtest_filter='$3'
  "
}

shoot DT_SCREENSHOT="$docs/screenshot.png" 1024x768 DownloadTest.ScreenshotMidDownload
echo "wrote $docs/screenshot.png"
# The station window is wider than the main window: a laptop's screen.
shoot DT_SCREENSHOT_STATION="$docs/station.png" 1366x768 'StationWindowGtkTest.*'
echo "wrote $docs/station.png"
