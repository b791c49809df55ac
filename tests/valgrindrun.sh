#!/bin/sh
# Runs the program once under valgrind's memcheck on the default glyph set and
# fails on any memory error or leak.
# Usage: valgrindrun.sh VALGRIND PROGRAM GLYPHFOLDER
set -eu
valgrind=$1 program=$2 glyphs=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$glyphs"/*.bmp "$work"/
cd "$work"
echo 'Hello, World! Is it clean? Yes.' |
    "$valgrind" --quiet --error-exitcode=2 --leak-check=full \
        --show-leak-kinds=all --errors-for-leak-kinds=all \
        "$program" >out 2>err || { cat err out; exit 1; }
if [ -s err ]; then
    cat err
    exit 1
fi
test -s moltravytext.bmp
tail -n 1 out
