#!/usr/bin/env bats
# What the static launchers are made of, from their link maps: musl and no
# glibc, the libraries' decoders and nothing of their encoders or of zstd's
# legacy formats.

load ../helpers/common

# Every CPU the build makes a launcher for.
ARCHES=${VORLAN_ARCHES:-i386 x86_64}

MUSL_LIBC="^\(/usr/lib/[a-z0-9_]*-linux-musl[a-z]*/libc\.a\|$BUILD_DIR/musl-[a-z0-9_]*/lib/libc\.a\)("

map_of() {
    printf '%s/static-%s/launcher/vorlan-launcher-%s.map\n' "$BUILD_DIR" "$1" "$1"
}

# members ARCH: each archive member linked in, as "ARCHIVE(MEMBER)".
members() {
    sed -n '/^Archive member included/,/^Discarded input sections/p' "$(map_of "$1")" |
        grep -o '^[^ ].*\.a(.*)$'
}

@test "the launchers link musl's C library and no glibc" {
    for arch in $ARCHES; do
        launcher=$BUILD_DIR/launcher/vorlan-launcher-$arch
        members "$arch" >"$BATS_TEST_TMPDIR/members"
        # Debian's musl, or musl compiled by the build from Debian's source.
        grep -q "$MUSL_LIBC" "$BATS_TEST_TMPDIR/members"
        # Only musl, libgcc and the launcher's own libraries.
        run -1 grep -v -e "$MUSL_LIBC" -e '/libgcc\(_eh\)\?\.a(' \
            -e '/libvorlan_\(md5\|zstd\|xz\|zlib\)\.a(' "$BATS_TEST_TMPDIR/members"
        # glibc's start files mark a static program with its ABI note.
        run -0 readelf -n "$launcher"
        not grep -q NT_GNU_ABI_TAG <<<"$output"
        not grep -q 'GNU C Library' "$launcher"
    done
}

@test "the launchers hold decoders alone: no encoder, no legacy zstd format" {
    for arch in $ARCHES; do
        members "$arch" >"$BATS_TEST_TMPDIR/members"
        grep -q 'libvorlan_zstd\.a(zstd_decompress\.c\.o)' "$BATS_TEST_TMPDIR/members"
        grep -q 'libvorlan_xz\.a(lzma2_decoder\.c\.o)' "$BATS_TEST_TMPDIR/members"
        grep -q 'libvorlan_zlib\.a(inflate\.c\.o)' "$BATS_TEST_TMPDIR/members"
        run -1 grep -e '[(_]compress' -e '(zstd_\(fast\|double_fast\|lazy\|ldm\|opt\)' -e 'zstd_v0' \
            -e 'encoder' -e '(deflate' -e '(trees\.c\.o' \
            "$BATS_TEST_TMPDIR/members"
        # Nor any of their functions, whichever object would bring them.
        run -1 grep -E '^ \.text\.(ZSTD_compress|ZSTD_createCCtx|ZSTDv0|lzma_.*encoder|deflate)' "$(map_of "$arch")"
    done
}
