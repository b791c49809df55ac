#!/bin/sh
# Builds the Debian package, checks it with lintian (no error, no warning),
# checks what it holds, then unpacks it into a temporary folder and runs the
# unpacked program there on the unpacked glyphs, as a user of the package
# would: its exit status, its report and its picture, which must be the same
# bytes as the build's own program stores.
# Usage: packagecheck.sh BUILDDIR
set -eu
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "package: $*"
    exit 1
}
cmake --build "$build" --target package >"$work/log" 2>&1 || {
    cat "$work/log"
    fail "could not be built"
}
deb=$(ls "$build"/moltravytext_*_*.deb)
echo "package: $(basename "$deb")"

lintian --fail-on error,warning "$deb" 2>/dev/null || {
    lintian "$deb"
    echo "lintian: errors or warnings"
    exit 1
}

contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/moltravytext ./usr/share/man/man1/moltravytext.1.gz \
    ./usr/share/doc/moltravytext/copyright \
    ./usr/share/doc/moltravytext/changelog.gz; do
    echo "$contents" | grep -q " $path\$" || fail "no $path"
done
count=$(echo "$contents" | grep -c ' \./usr/share/moltravytext/glyphs/.*\.bmp$')
[ "$count" -eq 29 ] || fail "$count glyph files, not 29"
# Modes and owners as Debian expects: root's, 0755 folders and programs,
# 0644 for everything else.
echo "$contents" | awk '$2 != "root/root" ||
    ($1 ~ /^d/ && $1 != "drwxr-xr-x") ||
    ($1 ~ /^-/ && $6 ~ /^\.\/usr\/bin\// && $1 != "-rwxr-xr-x") ||
    ($1 ~ /^-/ && $6 !~ /^\.\/usr\/bin\// && $1 != "-rw-r--r--")' |
    grep . && fail "a file or folder with the wrong owner or mode"
dpkg-deb -f "$deb" Depends | grep -q libc6 || fail "Depends names no libc6"

dpkg-deb -x "$deb" "$work/root"
file "$work/root/usr/bin/moltravytext" | grep -q stripped ||
    fail "the program is not stripped"
gzip -t "$work/root/usr/share/man/man1/moltravytext.1.gz" ||
    fail "the manual page is not gzip data"

mkdir "$work/mine" "$work/build"
cp "$work"/root/usr/share/moltravytext/glyphs/*.bmp "$work/mine/"
cp "$build"/glyphs/*.bmp "$work/build/"
message='Is it here? Yes, from the package!'
(cd "$work/mine" && echo "$message" | "$work/root/usr/bin/moltravytext" >out) ||
    fail "the unpacked program failed"
(cd "$work/build" && echo "$message" | "$build/moltravytext" >out)
tail -n 1 "$work/mine/out" | grep -qx 3 || fail "closing line is not 3"
cmp -s "$work/mine/out" "$work/build/out" || fail "the report differs"
cmp "$work/mine/moltravytext.bmp" "$work/build/moltravytext.bmp" ||
    fail "the picture differs from the build's"
echo "package: lintian clean; the unpacked program stored the picture"
