#!/usr/bin/env bats
# Compressed payloads: zstd, xz and gzip streams that the launcher decodes
# itself on their way into tar, and the streams it refuses.

load helpers

VERIFIED=$'Verifying archive integrity... Succeed.\n'
CODECS="zstd xz gzip"

setup() {
    setup_image_test
    # More than one chunk of the decoders' input and output: lines that
    # compress and bytes that do not (deterministic, so is every stream).
    seq 1 40000 >p/data
    seq 1 60000 | gzip -n -9 >p/noise
    tar -C p -cf p.tar .
}
teardown() { teardown_image_test; }

# compress CODEC FILE: FILE compressed as the codec's program writes it.
compress() {
    case $1 in
    zstd) zstd -q -c -19 "$2" ;;
    xz) xz -q -c "$2" ;;
    gzip) gzip -n -c "$2" ;;
    esac
}

# image_of CODEC STORED: CODEC.run from the bare launcher and STORED.
image_of() {
    launch ./bare --create "$1.run" "$2" >/dev/null
}

# tar_only_path: a PATH with tar and nothing else: no zstd, xz or gzip.
tar_only_path() {
    mkdir -p "$WORK/tar-only"
    ln -sf "$(command -v tar)" "$WORK/tar-only/tar"
    echo "$WORK/tar-only"
}

# refused CODEC REASON TARGET -- COMMAND...: COMMAND said "Uncompressing in
# TARGET..." and stopped there with 255, the first line on stderr naming the
# codec and the REASON, a pattern; tar's complaints about its cut input may
# follow.
refused() {
    local codec=$1 reason=$2 target=$3 status=0
    shift 4
    "$@" >"$CAPTURE/out" 2>"$CAPTURE/err" || status=$?
    cat "$CAPTURE/err"
    [ "$status" -eq 255 ]
    [ "$(cat "$CAPTURE/out")" = "${VERIFIED}Uncompressing in $target..." ]
    # shellcheck disable=SC2053 # the reason is a pattern
    [[ "$(head -n 1 "$CAPTURE/err")" == "Decompression error ($codec): "$reason ]]
}

@test "each codec: the tree extracted byte for byte and the script run, with no decompressor in PATH" {
    local codec path
    path=$(tar_only_path)
    for codec in $CODECS; do
        compress "$codec" p.tar >"p.tar.$codec"
        image_of "$codec" "p.tar.$codec"
        check_run "${VERIFIED}Uncompressing in $codec.run.dir..."$'\n'"script ./install.sh in $codec.run.dir with 1 args"$'\n[one]\n' \
            "" 0 -- with_path "$path" launch "./$codec.run" -- one
        diff -r p "$codec.run.dir"
    done
}

@test "--list shows what tar -tvf shows of the plain tar; --tar gets the decoded tar byte for byte" {
    local codec
    for codec in $CODECS; do
        compress "$codec" p.tar >"p.tar.$codec"
        image_of "$codec" "p.tar.$codec"
        check_run "${VERIFIED}$(listing p.tar)"$'\n' "" 0 -- launch "./$codec.run" --list
        # tar prints its version without reading; cat takes the whole stream.
        check_run "${VERIFIED}Run: tar --version - ; cat >decoded"$'\n'"$(tar --version)"$'\n' "" 0 -- \
            launch "./$codec.run" --tar --version ';' cat '>decoded'
        cmp p.tar decoded
        rm decoded
    done
}

@test "--info shows the stored size and the unpacked one, --check verifies the stored bytes" {
    compress zstd p.tar >p.tar.zstd
    image_of zstd p.tar.zstd
    local kb=$((($(stat -c %s p.tar.zstd) + 1023) / 1024))
    [ "$kb" -lt $((($(stat -c %s p.tar) + 1023) / 1024)) ]
    info "$kb" zstd.run.dir
    check_run "$INFO""Unpacked size: $((($(stat -c %s p.tar) + 1023) / 1024)) KB"$'\n' "" 0 -- launch ./zstd.run --info
    check_run "$VERIFIED" "" 0 -- launch ./zstd.run --check
    # A flipped stored byte fails the check, as in a plain payload.
    printf X | dd of=zstd.run bs=1 seek=$((E + HEADER_SIZE + 1000)) conv=notrunc status=none
    check_run $'Verifying archive integrity... Failed.\n' "" 255 -- launch ./zstd.run
    [ ! -e zstd.run.dir ]
}

@test "--info of each codec: the unpacked size its stream records, in whole kilobytes" {
    local codec kb unpacked
    kb=$((($(stat -c %s p.tar) + 1023) / 1024))
    for codec in $CODECS; do
        compress "$codec" p.tar >"p.tar.$codec"
        cat "p.tar.$codec" "p.tar.$codec" >"p2.tar.$codec"
        image_of "$codec" "p2.tar.$codec"
        info $((($(stat -c %s "p2.tar.$codec") + 1023) / 1024)) "$codec.run.dir"
        # Two frames or streams count twice; of two gzip members, the last.
        unpacked=$((2 * kb))
        [ "$codec" != gzip ] || unpacked=$kb
        check_run "$INFO""Unpacked size: $unpacked KB"$'\n' "" 0 -- launch "./$codec.run" --info
    done
}

@test "concatenated frames, streams and members decode as one; zstd may start with a skippable frame" {
    local codec
    head -c 150000 p.tar >first
    tail -c +150001 p.tar >second
    for codec in $CODECS; do
        { compress "$codec" first; compress "$codec" second; } >"joined.$codec"
        image_of "$codec" "joined.$codec"
        check_run "${VERIFIED}Run: tar --version - ; cat >decoded"$'\n'"$(tar --version)"$'\n' "" 0 -- \
            launch "./$codec.run" --tar --version ';' cat '>decoded'
        cmp p.tar decoded
    done
    { printf '\x5A\x2A\x4D\x18\x04\x00\x00\x00skip'; compress zstd p.tar; } >skippable.zstd
    image_of skip skippable.zstd
    check_run "${VERIFIED}Uncompressing in out..."$'\n' "" 0 -- launch ./skip.run --noexec --target out
    diff -r p out
}

@test "a stream cut short: its message, 255, the script not run" {
    local codec
    for codec in $CODECS; do
        compress "$codec" p.tar >"p.tar.$codec"
        head -c $(($(stat -c %s "p.tar.$codec") / 2)) "p.tar.$codec" >"cut.$codec"
        image_of "$codec" "cut.$codec"
        refused "$codec" "the stream is cut short" "$codec.run.dir" -- launch "./$codec.run"
        # What tar wrote stays; the directory is there.
        [ -d "$codec.run.dir" ]
    done
}

@test "a corrupt stream: a message naming the codec, 255, the script not run" {
    local codec at
    for codec in $CODECS; do
        compress "$codec" p.tar >"bad.$codec"
        at=$(($(stat -c %s "bad.$codec") / 3))
        printf '\x55\xAA' | dd of="bad.$codec" bs=1 seek="$at" conv=notrunc status=none
        image_of "$codec" "bad.$codec"
        refused "$codec" "?*" "$codec.run.dir" -- launch "./$codec.run"
    done
}

@test "bytes after a whole stream: one message, 255, the script not run, the extracted tree stays" {
    local codec
    for codec in $CODECS; do
        { compress "$codec" p.tar; printf 'trailing garbage'; } >"tail.$codec"
        image_of "$codec" "tail.$codec"
        check_run "${VERIFIED}Uncompressing in $codec.run.dir..."$'\n' \
            "Decompression error ($codec): unexpected bytes after the end of the stream"$'\n' 255 -- \
            launch "./$codec.run"
        diff -r p "$codec.run.dir"
    done
}

@test "a zstd window of 128 MiB is decoded, a larger one refused; so is an xz dictionary over 128 MiB" {
    local tar_size header
    make_payload small 'echo "small script"'
    tar_size=$(stat -c %s small.tar)
    [ "$tar_size" -lt 131072 ]
    # A frame header with no content size and a window of 2^27 (2^28) bytes,
    # then the tar in one last raw block.
    header=$((1 + (tar_size << 3)))
    for window in 88:27 90:28; do
        {
            printf "\\x28\\xB5\\x2F\\xFD\\x00\\x${window%:*}"
            printf "\\x$(printf %02x $((header & 255)))\\x$(printf %02x $((header >> 8 & 255)))\\x$(printf %02x $((header >> 16)))"
            cat small.tar
        } >"window${window#*:}.zstd"
        image_of "w${window#*:}" "window${window#*:}.zstd"
    done
    check_run "${VERIFIED}Uncompressing in w27.run.dir..."$'\nsmall script\n' "" 0 -- launch ./w27.run
    refused zstd "the stream needs a window of more than 128 MiB" w28.run.dir -- launch ./w28.run
    xz -q -c --lzma2=preset=0,dict=256MiB small.tar >big-dictionary.xz
    image_of xz big-dictionary.xz
    refused xz "the stream needs more than 129 MiB of memory ?a dictionary over 128 MiB?" xz.run.dir -- \
        launch ./xz.run
}

@test "as root the decoded entries are root's, whoever owned them in the tar" {
    [ "$(id -u)" -eq 0 ] || skip "needs root"
    mkdir -p q/sub
    echo new >q/sub/new.txt
    echo 'echo script' >q/install.sh
    tar -C q --owner=1234 --group=1234 -cf q.tar .
    compress zstd q.tar >q.tar.zstd
    image_of q q.tar.zstd
    check_run "${VERIFIED}Uncompressing in t..."$'\n' "" 0 -- launch ./q.run --target t --noexec
    [ "$(cd t && stat -c '%n %u:%g' install.sh sub sub/new.txt)" = \
        "$(printf '%s 0:0\n' install.sh sub sub/new.txt)" ]
}
