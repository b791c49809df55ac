#!/bin/sh
# Checks every release scripts/release wrote into DIST, as a user of each
# would meet it, against the Linux build in LINUXBUILD: each is installed
# or unpacked into a temporary folder and its program run there on its own
# glyphs (under qemu-user for ARM), and its report, exit status and picture
# must be the same bytes as the Linux build's.
# - Debian packages: lintian clean, the Architecture their name says, the
#   Depends dpkg-shlibdeps found (libc6's and zlib1g's), owners and modes
#   as Debian expects;
# - RPMs: rpmlint clean but for the signature (with packaging/rpmlint.toml,
#   which says where Debian's defaults are not Fedora's), installed with
#   rpm --root, requiring a glibc and zlib, the licence marked %license;
# - the static tarballs: one folder, laid out like the zip, a static program,
#   a README that opens with Linux's first steps;
# - in the tarballs and the zip, every link of the README resolving inside;
# - the zip's README opens with Windows' (tests/wincheck.sh runs its
#   program), and its program's manifest and version resource say what
#   they must;
# - the WebAssembly module run under Node's WASI, the page holding it, and
#   the site's zip: one folder whose index.html holds it too, with its
#   manifest, service worker and icons (tests/pagecheck.mjs drives the page
#   and the site themselves);
# - SHA256SUMS: every other file, and right.
# Usage: releasecheck.sh DIST LINUXBUILD
set -eu
dist=$(cd "$1" && pwd)
linux=$(cd "$2" && pwd)
source=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(moltravytext VERSION \([0-9.]*\).*/\1/p' \
    "$source/CMakeLists.txt")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "release: $*"
    exit 1
}
message='Is it here? Yes, from the release!'
mkdir "$work/linux"
cp "$linux"/glyphs/*.bmp "$work/linux/"
(cd "$work/linux" && echo "$message" | "$linux/moltravytext" >out)

# runs NAME FOLDER EMULATOR PROGRAM: runs PROGRAM in FOLDER, which holds
# its glyphs, and compares what it does with the Linux build's.
runs() {
    (cd "$2" && echo "$message" | $3 "$4" >out) || fail "$1: the program failed"
    cmp -s "$2/out" "$work/linux/out" || fail "$1: the report differs"
    cmp -s "$2/moltravytext.bmp" "$work/linux/moltravytext.bmp" ||
        fail "$1: the picture differs"
}

# linksresolve NAME FOLDER: every link and picture (Markdown's, or an
# HTML img's) of FOLDER/README.txt,
# but for web addresses, names a file inside FOLDER.
linksresolve() {
    { grep -o '](\([^)]*\))' "$2/README.txt" | sed 's/^](\(.*\))$/\1/'
      grep -o 'src="[^"]*"' "$2/README.txt" | sed 's/^src="\(.*\)"$/\1/'; } |
        grep -v '^[a-z]*:' | sort -u >"$work/links"
    [ -s "$work/links" ] || fail "$1: its README links to nothing it holds"
    while read -r link; do
        [ -f "$2/$link" ] || fail "$1: its README links to $link, which it lacks"
    done <"$work/links"
}

emulator() {
    case $1 in
    *arm64* | *aarch64*) echo /usr/bin/qemu-aarch64 ;;
    *armhf*) echo /usr/bin/qemu-arm ;;
    esac
}

for arch in amd64 arm64 armhf; do
    deb=$dist/moltravytext_${version}_$arch.deb
    name=$(basename "$deb")
    [ -f "$deb" ] || fail "no $name"
    lintian --fail-on error,warning "$deb" >/dev/null 2>&1 || {
        lintian "$deb"
        fail "$name: lintian errors or warnings"
    }
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] ||
        fail "$name: Architecture is not $arch"
    dpkg-deb -f "$deb" Depends | grep -q '^libc6 (>= 2\.[0-9]*).*, zlib1g (>= ' ||
        fail "$name: Depends names no libc6 or zlib1g version"
    # Modes and owners as Debian expects: root's, 0755 folders and
    # programs, 0644 for everything else.
    dpkg-deb -c "$deb" | awk '$2 != "root/root" ||
        ($1 ~ /^d/ && $1 != "drwxr-xr-x") ||
        ($1 ~ /^-/ && $6 ~ /^\.\/usr\/bin\// && $1 != "-rwxr-xr-x") ||
        ($1 ~ /^-/ && $6 !~ /^\.\/usr\/bin\// && $1 != "-rw-r--r--")' |
        grep . && fail "$name: a file or folder with the wrong owner or mode"
    dpkg-deb -x "$deb" "$work/$arch"
    [ "$(ls "$work/$arch/usr/share/moltravytext/glyphs" | wc -l)" -eq 29 ] ||
        fail "$name: not 29 glyph files"
    gzip -t "$work/$arch/usr/share/man/man1/moltravytext.1.gz" ||
        fail "$name: the manual page is not gzip data"
    file "$work/$arch/usr/bin/moltravytext" | grep -q stripped ||
        fail "$name: the program is not stripped"
    mkdir "$work/$arch-run"
    cp "$work/$arch"/usr/share/moltravytext/glyphs/*.bmp "$work/$arch-run/"
    runs "$name" "$work/$arch-run" "$(emulator "$arch")" \
        "$work/$arch/usr/bin/moltravytext"
    echo "release: $name: lintian clean, $(dpkg-deb -f "$deb" Depends); runs"
done

for arch in x86_64 aarch64; do
    rpm=$dist/moltravytext-$version-1.$arch.rpm
    name=$(basename "$rpm")
    [ -f "$rpm" ] || fail "no $name"
    lint=$(rpmlint -c "$source/packaging/rpmlint.toml" "$rpm" 2>&1 |
        grep -E '^moltravytext[^:]*: [EW]:' | grep -v ': E: no-signature$' || true)
    [ -z "$lint" ] || fail "$name: rpmlint: $lint"
    rpm -qp --requires "$rpm" 2>/dev/null | grep -q '^libc\.so\.6(GLIBC_2\.' ||
        fail "$name: requires no glibc"
    rpm -qp --requires "$rpm" 2>/dev/null | grep -q '^libz\.so\.1' ||
        fail "$name: requires no zlib"
    [ "$(rpm -qp --licensefiles "$rpm" 2>/dev/null)" = \
        /usr/share/licenses/moltravytext/LICENSE ] ||
        fail "$name: the licence is not %license in /usr/share/licenses"
    # Installed into an empty root: nothing there provides its glibc.
    rpm --root "$work/rpm-$arch" --ignorearch --nodeps -i "$rpm" 2>/dev/null ||
        fail "$name: rpm does not install it"
    mkdir "$work/rpm-$arch-run"
    cp "$work/rpm-$arch"/usr/share/moltravytext/glyphs/*.bmp \
        "$work/rpm-$arch-run/"
    runs "$name" "$work/rpm-$arch-run" "$(emulator "$arch")" \
        "$work/rpm-$arch/usr/bin/moltravytext"
    echo "release: $name: rpmlint clean but for the signature; installs, runs"
done

for arch in x86_64 aarch64; do
    folder=moltravytext-$version-linux-$arch
    tarball=$dist/$folder.tar.gz
    [ -f "$tarball" ] || fail "no $folder.tar.gz"
    # One folder, owned by root, holding the program, the glyphs, the
    # README, the licence and the manual page, and nothing else.
    tar -tvzf "$tarball" | awk '$2 != "0/0"' | grep . &&
        fail "$folder.tar.gz: a file not owned by root"
    mkdir "$work/$arch-tar"
    tar -xzf "$tarball" -C "$work/$arch-tar"
    [ "$(ls "$work/$arch-tar")" = "$folder" ] || fail "not one folder $folder"
    root=$work/$arch-tar/$folder
    [ "$(ls "$root" | wc -l)" -eq 34 ] && [ "$(ls "$root"/*.bmp | wc -l)" -eq 29 ] ||
        fail "$folder: not the program, 29 glyphs, README, LICENSE, manual and docs"
    file "$root/moltravytext" | grep -q 'statically linked' ||
        fail "$folder: the program is not static"
    head -n 1 "$root/README.txt" | grep -q '^moltravytext for Linux: first steps$' ||
        fail "$folder: the README does not open with Linux's first steps"
    [ -s "$root/LICENSE.txt" ] && [ -s "$root/moltravytext.1" ] ||
        fail "$folder: no LICENSE.txt or moltravytext.1"
    linksresolve "$folder.tar.gz" "$root"
    runs "$folder.tar.gz" "$root" "$(emulator "$arch")" ./moltravytext
    echo "release: $folder.tar.gz: static; runs in its own folder"
done

zip=$dist/moltravytext-$version-win64.zip
[ -f "$zip" ] || fail "no $(basename "$zip")"
/usr/bin/python3 -c 'import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
name = [n for n in z.namelist() if n.endswith("/README.txt")][0]
sys.exit(not z.read(name).startswith(b"moltravytext for Windows: first steps"))' \
    "$zip" || fail "the zip's README does not open with Windows' first steps"
/usr/bin/python3 -m zipfile -e "$zip" "$work/zip"
linksresolve "$(basename "$zip")" "$work/zip/$(basename "$zip" .zip)"

# The program's manifest (Windows 10 and 11, long paths) and its version
# resource, read back from the program in the zip.
/usr/bin/python3 -c 'import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
name = [n for n in z.namelist() if n.endswith("/moltravytext.exe")][0]
open(sys.argv[2], "wb").write(z.read(name))' "$zip" "$work/moltravytext.exe"
x86_64-w64-mingw32-windres -i "$work/moltravytext.exe" -O rc >"$work/resources" ||
    fail "the zip's program holds no resources"
for want in '<longPathAware xmlns=""http://schemas.microsoft.com/SMI/2016/WindowsSettings"">true</longPathAware>' \
    '<supportedOS Id=""{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}""/>' \
    "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\"" \
    'VALUE "ProductName", "moltravytext"'; do
    grep -qF "$want" "$work/resources" ||
        fail "the zip's program: no $want in its resources"
done
echo "release: the zip's program declares long paths and Windows 10 and 11, version $version"

# The WebAssembly module, run under Node's WASI, and the page, which must
# hold that module and forbid every network request.
wasm=$dist/moltravytext-$version.wasm
page=$dist/moltravytext-$version.html
[ -f "$wasm" ] && [ -f "$page" ] || fail "no $(basename "$wasm") or $(basename "$page")"
mkdir "$work/wasm"
cp "$linux"/glyphs/*.bmp "$work/wasm/"
runs "$(basename "$wasm")" "$work/wasm" "node --no-warnings $source/tests/wasirun.mjs" "$wasm"
site=moltravytext-$version-site
/usr/bin/python3 -m zipfile -e "$dist/$site.zip" "$work" || fail "no $site.zip"
[ "$(ls "$work/$site" | tr '\n' ' ')" = "apple-touch-icon.png icon-192.png icon-512.png icon-maskable.png index.html manifest.webmanifest sw.js " ] ||
    fail "$site.zip holds $(ls "$work/$site" | tr '\n' ' ')"
for html in "$page" "$work/$site/index.html"; do
    node -e 'const fs = require("fs");
const page = fs.readFileSync(process.argv[1], "utf8");
const worker = JSON.parse(page.match(/const workersource = ("(?:[^"\\]|\\.)*");/)[1]);
const held = worker.match(/const modulebase64 = "([^"]*)"/)[1];
process.exit(held === fs.readFileSync(process.argv[2]).toString("base64") &&
  page.includes("default-src \x27none\x27") ? 0 : 1);' "$html" "$wasm" ||
        fail "$html does not hold the module, or allows requests"
done
echo "release: $(basename "$wasm") runs under Node's WASI; $(basename "$page") and $site.zip hold it"

# The checksums: of every other file, each right.
(cd "$dist" && ls | grep -v '^SHA256SUMS$') >"$work/files"
awk '{ print $2 }' "$dist/SHA256SUMS" | sort >"$work/summed"
sort "$work/files" | cmp -s - "$work/summed" ||
    fail "SHA256SUMS does not list every file"
(cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS is wrong"
echo "release: SHA256SUMS lists and checks all $(wc -l <"$work/files") files"
