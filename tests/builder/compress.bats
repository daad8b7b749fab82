#!/usr/bin/env bats
# vorlan-mkinstaller --compress, --level and --window-log: the stream each
# codec writes, the same bytes from every build whatever the number of
# threads, the uncompressed image of old, and the usage errors.

load helpers

LAUNCHER_X86_64=$BUILD_DIR/libexec/vorlan-installer/vorlan-launcher-x86_64

setup() {
    setup_builder_test
    sample_app "$K/app"
    export SOURCE_DATE_EPOCH=1527724800
}

# build NAME ARGS...: $K/NAME.run from $K/app with the x86_64 launcher, and
# its payload in $K/NAME.payload.
build() {
    local name=$1
    shift
    "$MKINSTALLER" --arch x86_64 "$@" "$K/app" "$K/$name.run" >"$K/$name.summary"
    payload_of "$K/$name.run" "$LAUNCHER_X86_64" "$K/$name.payload"
}

# first_bytes FILE COUNT: the first COUNT bytes of FILE in hex.
first_bytes() {
    od -An -tx1 -N "$2" "$1" | tr -d ' \n'
}

@test "each --compress value writes its codec's stream of the tar that none stores" {
    build none --compress none
    tar -tf "$K/none.payload" >/dev/null
    build zstd --compress zstd
    [ "$(first_bytes "$K/zstd.payload" 4)" = 28b52ffd ]
    zstd -dc "$K/zstd.payload" | cmp - "$K/none.payload"
    build xz --compress xz
    [ "$(first_bytes "$K/xz.payload" 6)" = fd377a585a00 ]
    xz -dc "$K/xz.payload" | cmp - "$K/none.payload"
    # gzip: no name and no time stamp in the header.
    build gzip --compress gzip
    [ "$(first_bytes "$K/gzip.payload" 8)" = 1f8b080000000000 ]
    gzip -dc "$K/gzip.payload" | cmp - "$K/none.payload"
}

@test "the default: zstd level 19 with long matching over 128 MiB; levels and windows reach the compressor" {
    # Enough for neighbouring levels to give different streams.
    seq 1 20000 >"$K/app/lines"
    build none --compress none
    build default
    zstd -q -c -19 --long=27 "$K/none.payload" | cmp - "$K/default.payload"
    build fast --level 1 --window-log 20
    zstd -q -c -1 --long=20 "$K/none.payload" | cmp - "$K/fast.payload"
    build ultra --level 22
    zstd -q -c --ultra -22 --long=27 "$K/none.payload" | cmp - "$K/ultra.payload"
    # Level 20 needs --ultra too: zstd would quietly take it as 19. Below
    # 256 KiB, the two levels' streams of some machine code differ.
    head -c 120000 "$LAUNCHER_X86_64" >"$K/app/code"
    build none --compress none
    zstd -q -c -19 --long=27 "$K/none.payload" >"$K/level19"
    build level20 --level 20
    not cmp -s "$K/level19" "$K/level20.payload"
    zstd -q -c --ultra -20 --long=27 "$K/none.payload" | cmp - "$K/level20.payload"
    [[ "$(sed -n 4p "$K/level20.summary")" == "Stored:     $(stat -c %s "$K/level20.payload") bytes, zstd level 20, window 128 MiB, "* ]]
    build xz --compress xz --level 3 --window-log 16
    xz -q -c -T1 --lzma2=preset=3,dict=64KiB "$K/none.payload" | cmp - "$K/xz.payload"
    build gzip --compress gzip --level 1
    gzip -n -c -1 "$K/none.payload" | cmp - "$K/gzip.payload"
}

@test "--compress none writes the image that --create writes from the tar" {
    build none --compress none
    cp "$LAUNCHER_X86_64" "$K/bare"
    "$K/bare" --create "$K/reference.run" "$K/none.payload" >/dev/null
    cmp "$K/none.run" "$K/reference.run"
}

@test "the summary: the stored size, the codec and its share of the tar" {
    build none --compress none
    build default
    local tar_size stored tenths
    tar_size=$(stat -c %s "$K/none.payload")
    stored=$(stat -c %s "$K/default.payload")
    tenths=$(((stored * 1000 + tar_size / 2) / tar_size))
    [ "$(sed -n 3,4p "$K/default.summary")" = "Payload:    $tar_size bytes, 2 entries
Stored:     $stored bytes, zstd level 19, window 128 MiB, $((tenths / 10)).$((tenths % 10)) % of the tar" ]
    [ "$(sed -n 4p "$K/none.summary")" = "Stored:     $tar_size bytes, uncompressed" ]
    build xz --compress xz --window-log 12
    [[ "$(sed -n 4p "$K/xz.summary")" == "Stored:     $(stat -c %s "$K/xz.payload") bytes, xz level 9, window 4 KiB, "*" % of the tar" ]]
}

@test "SOURCE_DATE_EPOCH: the same bytes from every build, zstd on several threads, xz in one block" {
    # Some 11 MB: zstd -3 cuts jobs of 2 MiB, so it compresses on every core;
    # xz -0 on several threads would cut blocks of 768 KiB.
    seq 1 1500000 >"$K/app/lines"
    build one --level 3
    build two --level 3
    cmp "$K/one.run" "$K/two.run"
    # One worker gives the same stream as several.
    build none --compress none
    zstd -q -c -3 --long=27 -T1 "$K/none.payload" | cmp - "$K/one.payload"
    build xz-one --compress xz --level 0
    build xz-two --compress xz --level 0
    cmp "$K/xz-one.run" "$K/xz-two.run"
    xz -q -c -0 -T1 "$K/none.payload" | cmp - "$K/xz-one.payload"
}

# xz keeps the dictionary asked for, however small the tar: the decoder
# needs 129 MiB, which the launcher must allow.
@test "xz --window-log 27, the widest the usage allows: the image extracts" {
    build xz --compress xz --window-log 27
    [ "$(xz -lvv "$K/xz.payload" | sed -n 's/^ *Memory needed: *//p')" = "129 MiB" ]
    (cd "$K" && ./xz.run --noexec --target xz.dir) >"$K/out"
    [ "$(cat "$K/out")" = $'Verifying archive integrity... Succeed.\nUncompressing in xz.dir...' ]
    cmp "$K/app/data" "$K/xz.dir/data"
}

@test "a level or window out of the codec's range, or an unknown codec: usage error 2, nothing written" {
    local args expected
    while IFS='|' read -r args expected; do
        # shellcheck disable=SC2086 # the words of one case
        run "$MKINSTALLER" $args "$K/app" "$K/out"
        [ "$status" -eq 2 ]
        [ "${lines[0]}" = "vorlan-mkinstaller: $expected" ]
        [ "${lines[1]}" = "Try 'vorlan-mkinstaller --help' for more information." ]
    done <<'EOF'
--level 0|--level 0 is out of range for zstd (1 to 22)
--level 23|--level 23 is out of range for zstd (1 to 22)
--level=-3|--level -3 is out of range for zstd (1 to 22)
--level 019|--level 019 is out of range for zstd (1 to 22)
--level 99999999999999999999|--level 99999999999999999999 is out of range for zstd (1 to 22)
--compress xz --level 10|--level 10 is out of range for xz (0 to 9)
--compress gzip --level 0|--level 0 is out of range for gzip (1 to 9)
--window-log 28|--window-log 28 is out of range for zstd (10 to 27)
--compress xz --window-log 11|--window-log 11 is out of range for xz (12 to 27)
--compress gzip --window-log 15|--window-log does not apply to gzip
--compress none --level 1|--level does not apply to none
--compress lz4|unknown compression: lz4 (zstd, xz, gzip or none)
EOF
    [ ! -e "$K/out" ]
    [ -z "$(leftovers "$K")" ]
}

@test "a compressor missing from PATH: status 1, its name, nothing left behind" {
    local program
    mkdir "$K/bin"
    # Every program of the system but zstd.
    for program in /usr/local/bin/* /usr/bin/* /bin/*; do
        case ${program##*/} in
        zstd | zstdmt | unzstd) ;;
        *) [ -e "$K/bin/${program##*/}" ] || ln -s "$program" "$K/bin/${program##*/}" ;;
        esac
    done
    PATH=$K/bin run "$MKINSTALLER" --arch x86_64 "$K/app" "$K/out"
    [ "$status" -eq 1 ]
    [ "$output" = "vorlan-mkinstaller: cannot find the zstd program; install it or use --compress none" ]
    [ ! -e "$K/out" ]
    [ -z "$(leftovers "$K")" ]
    PATH=$K/bin run "$MKINSTALLER" --arch x86_64 --compress none "$K/app" "$K/out"
    [ "$status" -eq 0 ]
}
