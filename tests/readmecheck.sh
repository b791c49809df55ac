#!/bin/sh
# Runs what the README shows, so that it cannot drift from the program:
# - "What it prints": the block's command, run in a folder of the default
#   glyph set, must print the block's lines exactly;
# - "Making your own glyph set": the recipe draws a set that the program
#   reads, each glyph light with dark lines, not a black square; the line
#   that flattens transparent glyphs onto white gives a light glyph;
# - "When it fails": the check for currentletter = NULL names each kind of
#   broken file, and nothing in a whole set.
# Usage: readmecheck.sh PROGRAM GLYPHFOLDER
set -u
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
glyphs=$(cd "$2" && pwd)
readme=$(cd "$(dirname "$0")/.." && pwd)/README.md
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
    echo "README: $*"
    failed=1
}

# block HEADING N: the Nth fenced block (from 1) under the heading "## HEADING".
block() {
    awk -v heading="## $1" -v want="$2" '
        /^## / { inside = ($0 == heading) }
        inside && /^```/ { fence = !fence; if (fence) n++; next }
        inside && fence && n == want { print }' "$readme"
}

# mostlylight FILE: whether a BMP's pixels are more than half light, read
# by Pillow as the program reads it, alpha dropped.
mostlylight() {
    /usr/bin/python3 -c 'import sys
from PIL import Image
grey = Image.open(sys.argv[1]).convert("L")
light = sum(1 for v in grey.getdata() if v > 127)
sys.exit(not light * 2 > grey.width * grey.height)' "$1"
}

# What it prints.
mkdir "$work/prints"
cp "$glyphs"/*.bmp "$work/prints/"
block 'What it prints' 1 >"$work/block"
line=$(sed -n "1s/^\$ echo '\(.*\)' | moltravytext\$/\1/p" "$work/block")
[ -n "$line" ] || fail "What it prints: no \"\$ echo '...' | moltravytext\" line"
sed 1d "$work/block" >"$work/want"
(cd "$work/prints" && printf '%s\n' "$line" | "$program" >"$work/got")
cmp -s "$work/want" "$work/got" ||
    fail "What it prints differs from the program's output: $(diff "$work/want" "$work/got")"

# The glyph-set recipe, run as the README gives it, in a folder of its own.
mkdir "$work/home"
(cd "$work" && HOME=$work/home && export HOME &&
    block 'Making your own glyph set' 1 | sh -e) ||
    fail "the glyph-set recipe failed"
set -- "$work/home/myglyphs"/*.bmp
[ $# -eq 29 ] || fail "the recipe drew $# files, not 29"
(cd "$work/home/myglyphs" &&
    echo 'The quick brown fox jumps over the lazy dog. Why?' | "$program" >out) ||
    fail "the recipe's set is not read: $(tail -n 2 "$work/home/myglyphs/out")"
for glyph in "$work/home/myglyphs"/[a-z_]*.bmp; do
    mostlylight "$glyph" || fail "the recipe draws $(basename "$glyph") dark"
done
# A glyph drawn on a transparent ground, flattened as the README says.
mkdir "$work/clear"
convert -size 50x50 xc:none -fill black -draw 'rectangle 20,5 25,45' \
    "$work/clear/a.png"
(cd "$work/clear" && block 'Making your own glyph set' 2 | sh -e) ||
    fail "the flattening line failed"
mostlylight "$work/clear/a.bmp" || fail "a flattened glyph is dark"

# The check for currentletter = NULL, on a set with one fault of each kind.
mkdir "$work/broken"
cp "$glyphs"/*.bmp "$work/broken/"
rm "$work/broken/q.bmp"
mv "$work/broken/e.bmp" "$work/broken/E.bmp"
convert "$glyphs/f.bmp" "JPEG:$work/broken/f.bmp"
head -c 300000 /dev/zero >"$work/broken/g.bmp"
block 'When it fails' 1 >"$work/check.sh"
(cd "$work/broken" && sh "$work/check.sh") >"$work/said"
cat >"$work/expected" <<'LINES'
e.bmp: missing (there is E.bmp: rename it to e.bmp)
f.bmp: not a BMP or PNG
g.bmp: over 256 KiB
q.bmp: missing
LINES
cmp -s "$work/said" "$work/expected" ||
    fail "the check said: $(cat "$work/said")"
said=$(cd "$work/prints" && sh "$work/check.sh")
[ -z "$said" ] || fail "the check finds fault with the default set: $said"
exit "$failed"
