#!/bin/sh
# Builds the package of BUILDDIR a second time, in a folder of another name,
# from the same sources and with the same CMake options, and checks that the
# two packages are the same bytes. Neither build sets SOURCE_DATE_EPOCH: the
# time stamps come from the last commit.
# Usage: reproducible.sh BUILDDIR PACKAGEGLOB [CMAKE-OPTION...]
set -eu
build=$(cd "$1" && pwd)
glob=$2
shift 2
source=$(cd "$(dirname "$0")/.." && pwd)
again=$(mktemp -d "${TMPDIR:-/tmp}/moltravytext-again.XXXXXX")
trap 'rm -rf "$again"' EXIT
(unset SOURCE_DATE_EPOCH
    cmake -S "$source" -B "$again" -DCMAKE_BUILD_TYPE=Release \
        -DMOLTRAVYTEXT_TESTS=OFF "$@" &&
        cmake --build "$again" -j "$(nproc)" &&
        cmake --build "$again" --target package) >"$again.log" 2>&1 || {
    cat "$again.log"
    rm -f "$again.log"
    echo "reproducible: the second build failed"
    exit 1
}
rm -f "$again.log"
first=$(ls "$build"/$glob)
second=$(ls "$again"/$glob)
cmp "$first" "$second" || {
    echo "reproducible: $(basename "$first") differs between two builds"
    exit 1
}
echo "reproducible: $(basename "$first") is the same bytes from two build folders"
