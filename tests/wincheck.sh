#!/bin/sh
# Builds the Windows zip in WINBUILD, checks what it holds and what the
# program in it needs, then unpacks it as a user would and runs the program
# in its folder under wine: its exit status, its report and its picture must
# be the same bytes as the Linux build's in LINUXBUILD, on the same message,
# piped in and typed at a console (tests/winconsole.py, which also
# interrupts it at the prompt and while it stores the picture).
# Usage: wincheck.sh WINBUILD LINUXBUILD
set -eu
win=$(cd "$1" && pwd)
linux=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "zip: $*"
    exit 1
}
cmake --build "$win" --target package >"$work/log" 2>&1 || {
    cat "$work/log"
    fail "could not be built"
}
zip=$(ls "$win"/moltravytext-*-win64.zip)
echo "zip: $(basename "$zip")"

# One folder: the program, the 29 glyph files, README.txt, LICENSE.txt and
# the docs folder of the pictures the README shows.
/usr/bin/python3 -m zipfile -e "$zip" "$work/unpacked"
folder=$(basename "$zip" .zip)
[ "$(ls "$work/unpacked")" = "$folder" ] || fail "not one folder named $folder"
root=$work/unpacked/$folder
names=$(cd "$root" && ls | tr '\n' ' ')
[ "$(cd "$root" && ls *.bmp | wc -l)" -eq 29 ] || fail "not 29 glyph files: $names"
[ "$(cd "$root" && ls | wc -l)" -eq 33 ] || fail "other files: $names"
for f in moltravytext.exe README.txt LICENSE.txt; do
    [ -s "$root/$f" ] || fail "no $f"
done

# It needs system DLLs only, and is hardened as the build asks.
headers=$(x86_64-w64-mingw32-objdump -p "$root/moltravytext.exe")
dlls=$(echo "$headers" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
for dll in $dlls; do
    case $dll in
    kernel32.dll | msvcrt.dll | advapi32.dll | bcrypt.dll) ;;
    *) fail "needs $dll, which a bare Windows lacks" ;;
    esac
done
for flag in HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT; do
    echo "$headers" | grep -q "$flag" || fail "not $flag"
done
grep -q "stack smashing detected" "$root/moltravytext.exe" ||
    fail "the stack protector is not linked in"

# Run where it was unpacked, as from a console opened in that folder.
message='Is it here? Yes, from the zip!'
(cd "$root" && printf '%s\r\n' "$message" |
    WINEDEBUG=-all /usr/lib/wine/wine64 moltravytext.exe >out) ||
    fail "the unpacked program failed"
mkdir "$work/linux"
cp "$linux"/glyphs/*.bmp "$work/linux/"
(cd "$work/linux" && printf '%s\n' "$message" | "$linux/moltravytext" >out)
cmp -s "$root/out" "$work/linux/out" || fail "the report differs from Linux's"
cmp "$root/moltravytext.bmp" "$work/linux/moltravytext.bmp" ||
    fail "the picture differs from Linux's"
echo "zip: system DLLs only ($dlls); the unpacked program stored Linux's picture"

# As a console user meets it: a line typed at a console, Ctrl-C at the
# prompt, and an interrupt while the picture is written.
/usr/bin/python3 "$(dirname "$0")/winconsole.py" "$root" "$linux/moltravytext"
