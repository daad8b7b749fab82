#!/usr/bin/env bats
# Two builds of one tree, in different directories and from different source
# paths, give byte-identical launchers.

load ../helpers/common

setup() {
    WORK=$(mktemp -d "$BATS_TMPDIR/repro.XXXXXX")
}

teardown() {
    rm -rf "$WORK"
}

@test "launchers rebuilt from a copy of the tree elsewhere are identical" {
    mkdir "$WORK/src"
    cp -r "$SOURCE_DIR/CMakeLists.txt" "$SOURCE_DIR/README.md" "$SOURCE_DIR/cmake" "$SOURCE_DIR/launcher" \
        "$SOURCE_DIR/libraries" "$SOURCE_DIR/scripts" "$SOURCE_DIR/man" "$SOURCE_DIR/packaging" "$WORK/src/"
    cmake -S "$WORK/src" -B "$WORK/build" -DVORLAN_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$WORK/build" -j 2 >/dev/null
    for arch in ${VORLAN_ARCHES:-i386 x86_64}; do
        cmp "$BUILD_DIR/launcher/vorlan-launcher-$arch" "$WORK/build/launcher/vorlan-launcher-$arch"
    done
}

@test "both launchers are static executables of their architecture" {
    run file -b "$BUILD_DIR/launcher/vorlan-launcher-i386"
    [[ $output == "ELF 32-bit LSB executable, Intel 80386"*"statically linked"* ]]
    run file -b "$BUILD_DIR/launcher/vorlan-launcher-x86_64"
    [[ $output == "ELF 64-bit LSB executable, x86-64"*"statically linked"* ]]
}
