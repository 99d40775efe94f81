# Sourced by the scripts that run Windows programs under Wine: finds Wine
# and makes the Wine prefix the tests use, once, beside the executable
# (or at $DT_WINEPREFIX). Sets wine_cmd, and exe to the executable's full
# path, and exports WINEPREFIX.
#
#   wine_prefix_setup EXE
wine_prefix_setup() {
    exe="$(realpath "$1")"
    wine_cmd="$(command -v wine || command -v wine64 || true)"
    if [ -z "$wine_cmd" ]; then
        echo "wine is not installed" >&2
        exit 1
    fi
    export WINEPREFIX="${DT_WINEPREFIX:-$(dirname "$exe")/wineprefix}"
    # Names outside ASCII (files on drive Z:, the command line) pass between
    # Linux and Wine in the locale's encoding: UTF-8, as the tests write them.
    case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
        *.UTF-8 | *.utf8 | *.UTF8 | *.utf-8) ;;
        *) export LC_ALL=C.UTF-8 ;;
    esac
    export WINEDEBUG="${WINEDEBUG:--all}"
    export WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$wine_cmd" wineboot --init >/dev/null 2>&1
        wineserver -w 2>/dev/null || true
    fi
}
