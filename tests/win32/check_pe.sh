#!/usr/bin/env bash
# Checks that an executable is a 32-bit (i386) or 64-bit (x86-64) Windows
# GUI program (or, with "console", a console program), from its PE header,
# and that it needs no DLL but the system's.
#   check_pe.sh FILE 32|64 [console]
set -euo pipefail

file="$1"
want="$2"
kind="${3:-gui}"
u16() { od -An -t u2 -j "$2" -N 2 "$1" | tr -d ' '; }
u32() { od -An -t u4 -j "$2" -N 4 "$1" | tr -d ' '; }

pe=$(u32 "$file" 60)
if [ "$(od -An -c -j "$pe" -N 4 "$file" | tr -d ' ')" != 'PE\0\0' ]; then
    echo "$file: no PE signature" >&2
    exit 1
fi
machine=$(u16 "$file" $((pe + 4)))
magic=$(u16 "$file" $((pe + 24)))
subsystem=$(u16 "$file" $((pe + 24 + 68)))
case "$want" in
    32) [ "$machine" = 332 ] && [ "$magic" = 267 ] ;;      # i386, PE32
    64) [ "$machine" = 34404 ] && [ "$magic" = 523 ] ;;    # x86-64, PE32+
    *) false ;;
esac || { echo "$file: machine $machine, magic $magic is not a $want-bit executable" >&2; exit 1; }
if [ "$kind" = console ]; then
    [ "$subsystem" = 3 ] || { echo "$file: subsystem $subsystem is not a console program" >&2; exit 1; }
else
    [ "$subsystem" = 2 ] || { echo "$file: subsystem $subsystem is not a GUI program" >&2; exit 1; }
fi
# Linked statically: nothing of the MinGW runtime beside it.
if command -v x86_64-w64-mingw32-objdump >/dev/null; then
    dlls=$(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
    for dll in $dlls; do
        case "$dll" in
            kernel32.dll|user32.dll|gdi32.dll|comctl32.dll|comdlg32.dll|msvcrt.dll|advapi32.dll) ;;
            setupapi.dll|cfgmgr32.dll) ;;  # the devices present (serial/win32/port_discovery.cpp)
            shell32.dll) ;;  # the command line in UTF-16 (disk/win32/system_text.cpp)
            bcrypt.dll) ;;  # hashes and random bytes (station/win32/crypto.cpp)
            *) echo "$file: needs $dll, which is not a system DLL" >&2; exit 1 ;;
        esac
    done
fi
echo "$file: $want-bit Windows $kind executable"
