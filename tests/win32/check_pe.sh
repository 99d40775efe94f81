#!/usr/bin/env bash
# Checks that an executable is a 32-bit (i386) or 64-bit (x86-64) Windows
# GUI program, from its PE header.   check_pe.sh FILE 32|64
set -euo pipefail

file="$1"
want="$2"
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
[ "$subsystem" = 2 ] || { echo "$file: subsystem $subsystem is not a GUI program" >&2; exit 1; }
echo "$file: $want-bit Windows GUI executable"
