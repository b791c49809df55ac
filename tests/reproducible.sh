#!/bin/sh
# Builds every release again, from a copy of the sources in a folder of
# another name (the tracked and new files, and the history), and checks that
# each file is the same bytes as in DIST, the first build's dist/. Neither
# build sets SOURCE_DATE_EPOCH: the time stamps come from the last commit.
# Usage: reproducible.sh DIST
set -eu
dist=$(cd "$1" && pwd)
source=$(cd "$(dirname "$0")/.." && pwd)
again=$(mktemp -d "${TMPDIR:-/tmp}/moltravytext-again.XXXXXX")
trap 'rm -rf "$again"' EXIT
(cd "$source" && git ls-files -z --cached --others --exclude-standard |
    xargs -0 cp --parents -t "$again")
cp -r "$source/.git" "$again/.git"
(unset SOURCE_DATE_EPOCH; "$again/scripts/release") >"$again.log" 2>&1 || {
    cat "$again.log"
    rm -f "$again.log"
    echo "reproducible: the second build failed"
    exit 1
}
rm -f "$again.log"
count=0
for first in "$dist"/*; do
    name=$(basename "$first")
    cmp "$first" "$again/dist/$name" || {
        echo "reproducible: $name differs between two builds"
        exit 1
    }
    count=$((count + 1))
done
[ "$count" -eq "$(ls "$again/dist" | wc -l)" ] || {
    echo "reproducible: the two builds made different files"
    exit 1
}
echo "reproducible: all $count files of dist/ are the same bytes from two folders"
