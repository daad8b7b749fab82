#!/bin/sh
# Builds a libFuzzer target with ASan and UBSan and runs it for a while on a
# seed corpus: for the ELF end and the payload header, both real launchers,
# an image built from one, and crafted ELF32/ELF64 headers; for the decoders,
# a small tar as the zstd, xz and gzip programs write it, concatenated, after
# a skippable frame, and with a zstd window near the limit.
# Usage: fuzz.sh TARGET SECONDS [BUILD_DIR]

die() {
    printf 'fuzz.sh: %s\n' "$*" >&2
    exit 1
}

[ $# -ge 2 ] || { echo "usage: fuzz.sh TARGET SECONDS [BUILD_DIR]" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd) || exit 1
top=$(cd "$here/../.." && pwd) || exit 1
target=$1
seconds=$2
build=${3:-${BUILD_DIR:-$top/build}}
work=$build/fuzz/$target

# le BYTES VALUE: writes VALUE as BYTES little-endian bytes.
le() {
    n=$1 v=$2 escapes=
    while [ "$n" -gt 0 ]; do
        escapes="$escapes\\$(printf '%03o' $((v % 256)))"
        v=$((v / 256)) n=$((n - 1))
    done
    # shellcheck disable=SC2059 # the format holds nothing but octal escapes
    printf "$escapes"
}

# elf CLASS: a file header, a section table at 64 with three records, and a
# section behind the table.
craft_elf() {
    class=$1
    if [ "$class" = 1 ]; then
        rec=40 word=4 shoff_at=32 rest_at=46
    else
        rec=64 word=8 shoff_at=40 rest_at=58
    fi
    {
        printf '\177ELF'
        le 1 "$class"
        le 2 257
        head -c $((shoff_at - 7)) /dev/zero
        le "$word" 64
        head -c $((rest_at - shoff_at - word)) /dev/zero
        le 2 "$rec"
        le 2 3
        head -c $((64 - rest_at - 4)) /dev/zero
        for type in 0 1 8; do
            le 4 0
            le 4 "$type"
            if [ "$class" = 1 ]; then
                le 8 0
                le 4 300
                le 4 50
                head -c $((rec - 24)) /dev/zero
            else
                le 16 0
                le 8 300
                le 8 50
                head -c $((rec - 40)) /dev/zero
            fi
        done
        head -c 200 /dev/zero
    } >"$work/seeds/crafted-elf$class" || die "cannot write the crafted ELF$class seed"
}

# codec_seeds: the decoders' input as the compressors write it.
codec_seeds() {
    mkdir -p "$work/seeds" "$work/corpus" "$work/tree" || die "cannot create $work"
    printf 'echo installed\n' >"$work/tree/install.sh" || die "cannot write the seed tree"
    seq 1 2000 >"$work/tree/data" || die "cannot write the seed tree"
    tar -C "$work/tree" -cf "$work/small.tar" . || die "cannot pack the seed tree"
    zstd -q -c -19 "$work/small.tar" >"$work/seeds/tar.zst" || die "cannot write the zstd seed"
    zstd -q -c -3 --long=27 --no-check "$work/small.tar" >"$work/seeds/long.zst" ||
        die "cannot write the long-window zstd seed"
    xz -q -c "$work/small.tar" >"$work/seeds/tar.xz" || die "cannot write the xz seed"
    gzip -n -c "$work/small.tar" >"$work/seeds/tar.gz" || die "cannot write the gzip seed"
    for codec in zst xz gz; do
        cat "$work/seeds/tar.$codec" "$work/seeds/tar.$codec" >"$work/seeds/joined.$codec" ||
            die "cannot write the joined $codec seed"
    done
    { printf '\120\052\115\030\004\000\000\000skip' && cat "$work/seeds/tar.zst"; } >"$work/seeds/skippable.zst" ||
        die "cannot write the skippable-frame seed"
    # No content size, a window of 2^27 bytes, one empty raw block.
    printf '\050\265\057\375\000\210\001\000\000' >"$work/seeds/window.zst" ||
        die "cannot write the window seed"
}

make_seeds() {
    mkdir -p "$work/seeds" "$work/corpus" || die "cannot create $work"
    cp "$build/launcher/vorlan-launcher-i386" "$build/launcher/vorlan-launcher-x86_64" "$work/seeds/" ||
        die "cannot copy the launchers of $build"
    craft_elf 1
    craft_elf 2
    printf 'install.sh\n' >"$work/payload" || die "cannot write $work/payload"
    for seed in crafted-elf1 crafted-elf2; do
        { cat "$work/seeds/$seed" && head -c 24 /dev/zero && cat "$work/payload"; } >"$work/seeds/$seed-image" ||
            die "cannot write the $seed-image seed"
    done
}

# source_dir PACKAGE: where the build unpacked that Debian source package.
source_dir() {
    printf '%s/debian-sources/%s\n' "$build" "$(cut -d ' ' -f 3 "$build/debian-sources/$1.dir")"
}

build_target() {
    # The version that the build gives the units.
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
    [ -n "$version" ] || die "no project version in $build/CMakeCache.txt"
    # Every unit of the launcher but its main.
    set -- "$here/${target}_fuzz.cpp"
    for unit in "$top"/launcher/*.cpp; do
        [ "$unit" = "$top/launcher/main.cpp" ] || set -- "$@" "$unit"
    done
    # The libraries as the native build compiled them from Debian's sources.
    clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
        -D_FILE_OFFSET_BITS=64 -DLZMA_API_STATIC -DVORLAN_VERSION="\"$version\"" -I"$top/launcher" \
        -isystem "$(source_dir libtomcrypt)/src/headers" -isystem "$(source_dir libzstd)/lib" \
        -isystem "$(source_dir xz-utils)/src/liblzma/api" -isystem "$(source_dir zlib)" \
        "$@" "$build/libraries/libvorlan_md5.a" "$build/libraries/libvorlan_zstd.a" \
        "$build/libraries/libvorlan_xz.a" "$build/libraries/libvorlan_zlib.a" \
        -o "$work/$target" || die "cannot build $target"
}

[ -f "$here/${target}_fuzz.cpp" ] || die "no such target: $target"
mkdir -p "$work" || die "cannot create $work"
# A few kilobytes of stream can decode to gigabytes: the decoders get
# shorter inputs, so that each run stays short.
max_len=1048576
if [ "$target" = decode ]; then
    codec_seeds
    max_len=65536
else
    make_seeds
fi
build_target
"$work/$target" -max_total_time="$seconds" -close_fd_mask=2 -print_final_stats=1 \
    -max_len="$max_len" "$work/corpus" "$work/seeds"
