#!/usr/bin/env bats
# What vorlan-mkinstaller keeps of a tree, seen from the other end: the
# installer it builds with this launcher ($LAUNCHER), run as root, recreates
# every entry. Also: SOURCE_DATE_EPOCH makes two builds byte-identical.

load helpers
load ../launcher/helpers
load ../helpers/namespace

setup() {
    setup_builder_test
}

# awkward_tree DIR: every kind of entry the builder must keep.
awkward_tree() {
    local long
    mkdir -p "$1/empty" "$1/shared" "$1/sub"
    printf '#!/bin/sh\necho "install.sh with $# args: $*"\n' >"$1/install.sh"
    printf 'secret\n' >"$1/.env"
    printf 'key\n' >"$1/sub/id_key"
    chmod 0600 "$1/sub/id_key"
    printf '#!/bin/sh\n' >"$1/sub/helper"
    chmod 4755 "$1/sub/helper"
    chmod 2775 "$1/shared"
    chmod 1777 "$1/empty"
    ln -s ../install.sh "$1/sub/link"
    ln -s nowhere "$1/dangling"
    ln "$1/sub/helper" "$1/hardlink"
    # A path of 150 characters: more than ustar's 100 for a name or 155
    # for the prefix can hold in one piece.
    long=$(printf 'd%.0s' {1..70})/$(printf 'f%.0s' {1..79})
    mkdir "$1/${long%/*}"
    printf 'long\n' >"$1/$long"
    [ "${#long}" -eq 150 ]
    touch -h -d '2001-02-03 04:05:06' "$1/.env" "$1/sub/link"
}

# entries DIR: type, mode, link count, link target and name of everything
# below DIR, and the time of everything but directories (tar sets those,
# then extraction inside them changes them again).
entries() {
    (cd "$1" && find . -mindepth 1 \( -type d -printf '%p %y %m %n\n' \) -o \
        -printf '%p %y %m %n [%l] %TY-%Tm-%Td %TH:%TM:%TS\n' | sed 's/\.[0-9]*$//' | LC_ALL=C sort)
}

@test "run as root, the installer recreates every entry: modes, links, dotfiles, long names, times" {
    awkward_tree "$K/tree"
    "$MKINSTALLER" --launcher "$LAUNCHER" "$K/tree" "$K/setup.run" >/dev/null
    mkdir -m 0700 "$K/run"
    # Root runs the installer in a directory of its own on a private tmpfs.
    unshare -m bash -c '
        set -e
        mount -t tmpfs -o mode=0700 vorlan-test "$1"
        cd "$1"
        cp "$3/setup.run" .
        $2 ./setup.run -- one "two words" >"$3/stdout"
        cd setup.run.dir
        find . -mindepth 1 -printf "%u:%g\n" | sort -u >"$3/owners"
        cp -a . "$3/extracted"
    ' sh "$K/run" "$EMULATOR" "$K"
    [ "$(cat "$K/stdout")" = "Verifying archive integrity... Succeed.
Uncompressing in setup.run.dir...
install.sh with 2 args: one two words" ]
    [ "$(cat "$K/owners")" = root:root ]
    diff <(entries "$K/tree") <(entries "$K/extracted")
    [ "$(stat -c %i "$K/extracted/hardlink")" = "$(stat -c %i "$K/extracted/sub/helper")" ]
}

@test "SOURCE_DATE_EPOCH: two builds at different times and places give the same bytes" {
    awkward_tree "$K/tree"
    # Names that a tmpfs and the disk read back from a directory in
    # different orders.
    mkdir "$K/tree/many"
    local name
    for name in m q b x e k a t h c r f; do
        : >"$K/tree/many/$name"
    done
    export SOURCE_DATE_EPOCH=1527724800
    "$MKINSTALLER" --launcher "$LAUNCHER" "$K/tree" "$K/one.run" >/dev/null
    sleep 1
    mkdir "$K/copy" "$K/tmp2"
    in_private_ns tmpfs::"$K/copy" -- bash -c '
        cp -a "$1/." "$2" &&
        [ "$(ls -U "$1/many")" != "$(ls -U "$2/many")" ] &&
        TMPDIR=$3 "$4" --launcher "$5" "$2" "$6" >/dev/null' - \
        "$K/tree" "$K/copy" "$K/tmp2" "$MKINSTALLER" "$LAUNCHER" "$K/two.run"
    cmp "$K/one.run" "$K/two.run"
    # Later times are clamped to it; earlier ones are kept.
    payload_of "$K/one.run" "$LAUNCHER" "$K/payload.tar"
    TZ=UTC tar --full-time -tvf "$K/payload.tar" >"$K/listing"
    grep -q ' 2001-02-03 04:05:06 \.env$' "$K/listing"
    grep -q ' 2018-05-31 00:00:00 install\.sh$' "$K/listing"
    [ "$(grep -c ' 2018-05-31 00:00:00 ' "$K/listing")" -eq $(($(wc -l <"$K/listing") - 2)) ]
}

@test "without SOURCE_DATE_EPOCH the files keep their own times; --mtime sets one for all" {
    awkward_tree "$K/tree"
    touch -d '2024-06-07 08:09:10' "$K/tree/install.sh"
    "$MKINSTALLER" --launcher "$LAUNCHER" "$K/tree" "$K/own.run" >/dev/null
    payload_of "$K/own.run" "$LAUNCHER" "$K/own.tar"
    TZ=UTC tar --full-time -tvf "$K/own.tar" | grep -q ' 2024-06-07 08:09:10 install\.sh$'
    SOURCE_DATE_EPOCH=1 "$MKINSTALLER" --launcher "$LAUNCHER" --mtime @1527724800 "$K/tree" "$K/fixed.run" >/dev/null
    payload_of "$K/fixed.run" "$LAUNCHER" "$K/fixed.tar"
    [ -z "$(TZ=UTC tar --full-time -tvf "$K/fixed.tar" | grep -v ' 2018-05-31 00:00:00 ')" ]
}

@test "Ctrl-C while this launcher writes the image: status 130, nothing left" {
    mkdir "$K/app"
    printf 'exit 0\n' >"$K/app/install.sh"
    # Large enough that the launcher is seen at work.
    truncate -s 128M "$K/app/zero"
    # A process group of its own, as at a terminal, where Ctrl-C sends INT to
    # the whole group; a job started by a script ignores INT unless told otherwise.
    setsid env --default-signal=INT "$MKINSTALLER" --launcher "$LAUNCHER" --compress none "$K/app" "$K/out" >/dev/null 2>&1 &
    local pid=$! n=0 status=0
    # Until the launcher's temporary image shows beside the builder's name.
    until compgen -G "$K/.out.??????.??????" >/dev/null || [ "$n" -ge 3000 ]; do
        sleep 0.01
        n=$((n + 1))
    done
    kill -INT -- "-$pid"
    wait "$pid" || status=$?
    [ "$n" -lt 3000 ]
    [ "$status" -eq 130 ]
    [ -z "$(leftovers "$K")" ]
}
