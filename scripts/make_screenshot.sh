#!/bin/sh
# Makes docs/screenshot.png: the main window mid-download, on a virtual
# display with a window manager (openbox) so that its title bar shows.
#
#   scripts/make_screenshot.sh BUILD_DIR
#
# BUILD_DIR holds a built gtk_tests; the picture is the one its test
# DownloadTest.ScreenshotMidDownload takes.
set -eu
build=$(cd "${1:?usage: make_screenshot.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
out="$here/../docs/screenshot.png"
command -v openbox >/dev/null || { echo "make_screenshot.sh: needs openbox" >&2; exit 1; }
mkdir -p "$(dirname "$out")"
DT_SCREENSHOT="$out" xvfb-run -a -s "-screen 0 1024x768x24" sh -c "
  openbox --config-file '$here/screenshot-openbox.xml' >/dev/null 2>&1 &
  sleep 1
  '$build/gtk_tests' --gtest_filter=DownloadTest.ScreenshotMidDownload
"
echo "wrote $out"
