#!/usr/bin/env bats
# vorlan-mkinstaller's command line, refusals and failures: what it prints,
# its exit status, and that a failure leaves no output and no temporary
# file.

load helpers
load ../helpers/namespace

setup() {
    setup_builder_test
    sample_app "$K/app"
}

# stand_in BODY: a bare launcher stand-in, a shell script, in $K/launcher.
stand_in() {
    printf '#!/bin/sh\n%s\n' "$1" >"$K/launcher"
    chmod 0755 "$K/launcher"
}

@test "--help: the usage on standard output, nothing on standard error, status 0" {
    "$MKINSTALLER" --help >"$K/out" 2>"$K/err"
    [ ! -s "$K/err" ]
    [ "$(head -n 1 "$K/out")" = "Usage: vorlan-mkinstaller [OPTIONS] DIR OUTPUT" ]
}

@test "usage errors: what is wrong, how to get help, status 2, nothing written" {
    run "$MKINSTALLER" "$K/app"
    [ "$status" -eq 2 ]
    [ "$output" = "vorlan-mkinstaller: expected DIR and OUTPUT, got 1 argument(s)
Try 'vorlan-mkinstaller --help' for more information." ]
    run "$MKINSTALLER" --frobnicate "$K/app" "$K/out"
    [ "$status" -eq 2 ]
    [ "${lines[0]}" = "vorlan-mkinstaller: unknown option: --frobnicate" ]
    run "$MKINSTALLER" --arch arm64 "$K/app" "$K/out"
    [ "$status" -eq 2 ]
    [ "${lines[0]}" = "vorlan-mkinstaller: unknown architecture: arm64 (x86_64, i386, aarch64, armv7l, ppc64le, s390x, riscv64 or all)" ]
    run "$MKINSTALLER" --arch , "$K/app" "$K/out"
    [ "$status" -eq 2 ]
    [ "${lines[0]}" = "vorlan-mkinstaller: --arch names no architecture" ]
    run "$MKINSTALLER" --arch x86_64 --launcher "$K/l" "$K/app" "$K/out"
    [ "$status" -eq 2 ]
    run "$MKINSTALLER" --mtime 'not a date' "$K/app" "$K/out"
    [ "$status" -eq 2 ]
    [ "${lines[0]}" = "vorlan-mkinstaller: invalid date for --mtime: not a date" ]
    [ ! -e "$K/out" ]
    [ -z "$(leftovers "$K")" ]
}

@test "a directory without a regular install.sh is refused before anything is written" {
    rm "$K/app/install.sh"
    run "$MKINSTALLER" "$K/app" "$K/out"
    [ "$status" -eq 1 ]
    [ "$output" = "vorlan-mkinstaller: $K/app/install.sh: missing or not a regular file; the installer runs it after extraction" ]
    ln -s data "$K/app/install.sh"
    run "$MKINSTALLER" "$K/app" "$K/out"
    [ "$status" -eq 1 ]
    rm "$K/app/install.sh"
    mkdir "$K/app/install.sh"
    run "$MKINSTALLER" "$K/app" "$K/out"
    [ "$status" -eq 1 ]
    run "$MKINSTALLER" "$K/none" "$K/out"
    [ "$status" -eq 1 ]
    [ "$output" = "vorlan-mkinstaller: $K/none: not a directory" ]
    [ ! -e "$K/out" ]
    [ -z "$(leftovers "$K")" ]
}

@test "a missing launcher or output directory is named, status 1" {
    run "$MKINSTALLER" --launcher "$K/none" "$K/app" "$K/out"
    [ "$status" -eq 1 ]
    [ "$output" = "vorlan-mkinstaller: $K/none: no such launcher" ]
    run "$MKINSTALLER" --arch x86_64 "$K/app" "$K/nodir/out"
    [ "$status" -eq 1 ]
    [ "$output" = "vorlan-mkinstaller: $K/nodir/out: the directory $K/nodir does not exist" ]
    [ -z "$(leftovers "$K")" ]
}

@test "a #! line for another shell draws a warning; /bin/sh and env sh do not" {
    printf '#!/bin/bash\necho hi\n' >"$K/app/install.sh"
    "$MKINSTALLER" --arch x86_64 "$K/app" "$K/out" 2>"$K/err" >/dev/null
    [ "$(cat "$K/err")" = "vorlan-mkinstaller: warning: $K/app/install.sh starts with '#!/bin/bash', but the installer runs it with /bin/sh" ]
    [ -x "$K/out" ]
    for line in '#!/bin/sh' '#! /bin/sh -e' '#!/usr/bin/env sh' 'echo no interpreter line'; do
        printf '%s\necho hi\n' "$line" >"$K/app/install.sh"
        "$MKINSTALLER" --arch x86_64 "$K/app" "$K/out" 2>"$K/err" >/dev/null
        [ ! -s "$K/err" ]
    done
}

@test "a failing launcher: its message, status 1, the earlier output untouched, nothing left" {
    # shellcheck disable=SC2016 # the stand-in's own parameters
    stand_in 'echo "launcher: $*" >&2; exit 3'
    printf 'earlier\n' >"$K/out"
    run "$MKINSTALLER" --launcher "$K/launcher" "$K/app" "$K/out"
    [ "$status" -eq 1 ]
    [[ "${lines[0]}" == "launcher: --create $K/.out."??????" $TMPDIR/vorlan-mkinstaller."??????"/payload.tar.zstd" ]]
    [ "${lines[1]}" = "vorlan-mkinstaller: $K/out: the launcher $K/launcher failed (status 3)" ]
    [ "$(cat "$K/out")" = earlier ]
    [ -z "$(leftovers "$K")" ]
}

@test "an image that fails its check is not committed" {
    # Its own bytes, a header of zeros and the tar, as a launcher lays them
    # out, but the image it makes fails --check.
    # shellcheck disable=SC2016 # the stand-in's own parameters
    stand_in '[ "$1" = --create ] && { cat "$0"; head -c 24 /dev/zero; cat "$3"; } >"$2" && chmod 0755 "$2"'
    run "$MKINSTALLER" --launcher "$K/launcher" "$K/app" "$K/out"
    [ "$status" -eq 1 ]
    [[ "$output" == "vorlan-mkinstaller: $K/out: the new image fails its check: "* ]]
    [ ! -e "$K/out" ]
    [ -z "$(leftovers "$K")" ]
}

@test "--launcher naming a program that writes no image: not a Vorlan launcher, nothing left" {
    echo earlier >"$K/out"
    run "$MKINSTALLER" --launcher /bin/true "$K/app" "$K/out"
    [ "$status" -eq 1 ]
    [ "$output" = "vorlan-mkinstaller: /bin/true is not a Vorlan launcher" ]
    [ "$(cat "$K/out")" = earlier ]
    [ -z "$(leftovers "$K")" ]
}

@test "an output directory on a read-only mount: one message with the reason, nothing left" {
    mkdir "$K/ro"
    run in_private_ns tmpfs:ro:"$K/ro" -- "$MKINSTALLER" --arch x86_64 "$K/app" "$K/ro/out"
    [ "$status" -eq 1 ]
    [ "$output" = "vorlan-mkinstaller: $K/ro/out: cannot create a temporary file in $K/ro: Read-only file system" ]
    [ -z "$(leftovers "$K")" ]
}

@test "once written, the new image is read in full once, by its check" {
    command -v strace >/dev/null || skip "strace is not installed"
    head -c 2000000 /dev/urandom >"$K/app/noise"
    cd "$K"
    strace -ff -qq -y -s 64 -o trace -e trace=execve,read,pread64,readv,preadv -e signal=none \
        "$MKINSTALLER" --arch x86_64 --compress none app out.run >/dev/null
    # Per process: the arguments of its program and the bytes it read from
    # the image under either name; the processes that read 2 MB of it.
    awk -v least=2000000 '
        FNR == 1 { if (got >= least) print args; got = 0; args = "" }
        /^execve\(/ {
            args = $0
            sub(/^execve\("[^"]*", \[/, "", args)
            sub(/\].*/, "", args)
            gsub(/\.out\.run\.[A-Za-z0-9]+/, ".out.run.XXXXXX", args)
        }
        /^(read|pread64|readv|preadv)\([0-9]+<[^>]*\/(\.out\.run\.[A-Za-z0-9]+|out\.run)>/ && match($0, /= [0-9]+$/) {
            got += substr($0, RSTART + 2)
        }
        END { if (got >= least) print args }' trace.* >readers
    [ "$(cat readers)" = '"././.out.run.XXXXXX", "--check"' ]
}

@test "SIGHUP, SIGINT or SIGTERM while the launcher writes: 128+N at once, the launcher stopped, nothing left" {
    # A launcher that leaves its partial image behind when it is stopped, as
    # an older one does, and notes that it was.
    # shellcheck disable=SC2016 # the stand-in's own parameters
    stand_in 'printf partial >"$2.Xy12Zq"
trap '\''echo stopped >"$TMPDIR/../stopped"; kill $!; exit 143'\'' TERM
touch "$TMPDIR/../started"
sleep 20 &
wait'
    local sig number pid n status
    for sig in HUP INT TERM; do
        rm -f "$K/started" "$K/stopped"
        # A job started by a script ignores INT unless told otherwise.
        env --default-signal=INT "$MKINSTALLER" --launcher "$K/launcher" "$K/app" "$K/out" >/dev/null 2>&1 &
        pid=$! n=0 status=0
        while [ ! -e "$K/started" ] && [ "$n" -lt 100 ]; do
            sleep 0.05
            n=$((n + 1))
        done
        kill -"$sig" "$pid"
        wait "$pid" || status=$?
        number=$(kill -l "$sig")
        [ "$status" -eq $((128 + number)) ]
        [ "$(cat "$K/stopped")" = stopped ]
        [ -z "$(leftovers "$K")" ]
    done
}

@test "a launcher killed outright: its temporary image goes too, status 1" {
    # shellcheck disable=SC2016 # the stand-in's own parameters
    stand_in 'printf partial >"$2.Ab34Cd"; kill -KILL $$'
    run "$MKINSTALLER" --launcher "$K/launcher" "$K/app" "$K/out"
    [ "$status" -eq 1 ]
    # The shell may say first how the launcher ended.
    [ "${lines[-1]}" = "vorlan-mkinstaller: $K/out: the launcher $K/launcher failed (status 137)" ]
    [ -z "$(leftovers "$K")" ]
}

@test "the directory is synced after the final rename, so the new name survives a crash" {
    command -v strace >/dev/null || skip "strace is not installed"
    mkdir "$K/sub"
    echo old >"$K/sub/out.run"
    cd "$K"
    strace -f -qq -y -o trace -e trace=fsync,rename,renameat,renameat2 -e signal=none \
        "$MKINSTALLER" --arch x86_64 app sub/out.run >/dev/null
    # The successful calls without process IDs, descriptors or random suffixes.
    sed -En 's/^[0-9]+ +//; s/\([0-9]+</(</; s/\.[A-Za-z0-9]{6}([>"])/.XXXXXX\1/g; s/\) += 0$/) = 0/p' \
        trace >calls
    [[ "$(tail -n 2 calls | head -n 1)" == rename*'"sub/.out.run.XXXXXX", '*'"sub/out.run"'*') = 0' ]]
    [ "$(tail -n 1 calls)" = "fsync(<$(pwd -P)/sub>) = 0" ]
}

@test "the summary: path, sizes, entries, the stored payload's MD5 and the customer's command" {
    mkdir "$K/app/sub"
    : >"$K/app/sub/.hidden"
    run "$MKINSTALLER" --arch x86_64 "$K/app" "$K/setup.run"
    [ "$status" -eq 0 ]
    local launcher=$BUILD_DIR/libexec/vorlan-installer/vorlan-launcher-x86_64
    payload_of "$K/setup.run" "$launcher" "$K/payload.tar.zstd"
    zstd -q -d "$K/payload.tar.zstd"
    [ "$output" = "Installer:  $K/setup.run
Size:       $(stat -c %s "$K/setup.run") bytes (x86_64 launcher)
Payload:    $(stat -c %s "$K/payload.tar") bytes, 4 entries
Stored:     $(stat -c %s "$K/payload.tar.zstd") bytes, zstd level 19, window 128 MiB, ${lines[3]##*, }
MD5:        $(md5sum <"$K/payload.tar.zstd" | cut -d ' ' -f 1)
Runs on:    64-bit x86 Linux (amd64)
Customers run: chmod +x setup.run && ./setup.run" ]
    [ "$(stat -c %a "$K/setup.run")" = 755 ]
    [ -z "$(leftovers "$K")" ]
}

@test "--arch picks the build tree's launchers, x86_64 by default; both carry the same payload" {
    local dir=$BUILD_DIR/libexec/vorlan-installer
    SOURCE_DATE_EPOCH=1527724800 "$MKINSTALLER" --arch i386 "$K/app" "$K/i386.run" >/dev/null
    SOURCE_DATE_EPOCH=1527724800 "$MKINSTALLER" "$K/app" "$K/x86_64.run" >/dev/null
    cmp -n "$(stat -c %s "$dir/vorlan-launcher-i386")" "$K/i386.run" "$dir/vorlan-launcher-i386"
    cmp -n "$(stat -c %s "$dir/vorlan-launcher-x86_64")" "$K/x86_64.run" "$dir/vorlan-launcher-x86_64"
    payload_of "$K/i386.run" "$dir/vorlan-launcher-i386" "$K/i386.tar"
    payload_of "$K/x86_64.run" "$dir/vorlan-launcher-x86_64" "$K/x86_64.tar"
    cmp "$K/i386.tar" "$K/x86_64.tar"
}

# counting_zstd: zstd in $K/bin, the real one, counting its runs in $K/runs.
counting_zstd() {
    mkdir -p "$K/bin"
    printf '#!/bin/sh\necho run >>"%s/runs"\nexec %s "$@"\n' "$K" "$(command -v zstd)" >"$K/bin/zstd"
    chmod 0755 "$K/bin/zstd"
}

@test "--arch all: an image per CPU, named setup-CPU.run, from one compression of one payload" {
    counting_zstd
    PATH=$K/bin:$PATH run "$MKINSTALLER" --arch all "$K/app" "$K/setup.run"
    [ "$status" -eq 0 ]
    [ "$(cat "$K/runs")" = run ]
    local dir=$BUILD_DIR/libexec/vorlan-installer arch
    for arch in $VORLAN_ARCHES; do
        payload_of "$K/setup-$arch.run" "$dir/vorlan-launcher-$arch" "$K/$arch.stored"
        cmp "$K/$arch.stored" "$K/x86_64.stored"
    done
    [ "$(ls "$K" | grep -c '^setup-.*\.run$')" = 7 ]
    [ ! -e "$K/setup.run" ]
    # Each summary says which machines run the image, and where this
    # machine needed qemu to check it.
    [ "$(grep -c '^Installer:' <<<"$output")" = 7 ]
    grep -qx 'Runs on:    64-bit ARM Linux (arm64)' <<<"$output"
    grep -qx 'Checked:    under qemu-s390x, since this machine cannot run it' <<<"$output"
    run -1 grep -x 'Checked:    under qemu-x86_64.*' <<<"$output"
    [ -z "$(leftovers "$K")" ]
}

@test "one CPU of several cannot be run here: nothing is written" {
    mkdir -p "$K/bin"
    # Every program of PATH but qemu-aarch64.
    for program in sh tar zstd sort find mktemp stat md5sum cat rm mv sync od awk uname wc cut paste grep \
        tr sed dirname date ls chmod head tail; do
        ln -s "$(command -v "$program")" "$K/bin/$program"
    done
    PATH=$K/bin run "$MKINSTALLER" --arch x86_64,aarch64 "$K/app" "$K/setup.run"
    [ "$status" -eq 1 ]
    [[ $output == *"qemu-aarch64 is not installed"* ]]
    [ -z "$(ls "$K" | grep setup)" ]
    [ -z "$(leftovers "$K")" ]
}
