# What scripts/test, scripts/release and bench/run share; sourced by each,
# from the project's root folder.

top=$PWD

# cmakebuild FOLDER CMAKE-OPTION...: configures and builds FOLDER (only the
# target $target, when that is set) quietly into FOLDER.log, showing the log
# and stopping the script when it fails.
cmakebuild() {
    local folder=$1
    shift
    { cmake -S "$top" -B "$folder" "$@" &&
        cmake --build "$folder" -j "$(nproc)" ${target:+--target "$target"}; } \
        </dev/null >"$folder.log" 2>&1 || {
        cat "$folder.log"
        echo "$(basename "$0"): the build in $folder failed"
        exit 1
    }
}

# wasmbuild FOLDER: the WebAssembly module and the page's PNG maker, built
# in FOLDER with zig; only the modules, since the glyph drawer would have to
# run under a runtime.
wasmbuild() {
    target=moltravytext cmakebuild "$1" \
        -DCMAKE_TOOLCHAIN_FILE="$top/cmake/zig.cmake" -DZIGTARGET=wasm32-wasi \
        -DCMAKE_BUILD_TYPE=Release -DMOLTRAVYTEXT_TESTS=OFF
}

# pagebuild FOLDER MODULE GLYPHFOLDER OUT [SITEFOLDER]: the browser page
# OUT around MODULE and FOLDER's PNG maker, with the glyph set of
# GLYPHFOLDER; and the site, in SITEFOLDER (made anew), when given.
pagebuild() {
    [ -z "${5:-}" ] || rm -rf "$5"
    node "$top/web/buildpage.mjs" "$2" "$1/pngencode" "$3" "$4" ${5:+"$5"} </dev/null
}
