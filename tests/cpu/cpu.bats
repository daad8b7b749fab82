#!/usr/bin/env bats
# One CPU's launcher, run under its qemu-user program where this kernel
# cannot run it, against the x86_64 launcher: the same texts byte for byte,
# the same image header for the same tar, each codec extracted, the hand-over
# to install.sh, a changed byte refused. LAUNCHER_ARCH names the CPU.

load ../launcher/helpers

LAUNCHER_X86_64=${LAUNCHER_X86_64:-$BUILD_DIR/launcher/vorlan-launcher-x86_64}

setup() {
    setup_workdir
    make_payload tree 'echo "install.sh in $(basename "$PWD") with: $*"'
    head -c 300000 /dev/urandom >tree/data
    printf 'line\n%.0s' $(seq 20000) >tree/text
    tar -C tree -cf tree.tar .
    make_image s.run tree.tar
    cp "$LAUNCHER_X86_64" ./bare64
}

teardown() {
    teardown_workdir
}

# same_run FILE ARGS...: FILE run with ARGS writes the bytes and status that
# the x86_64 twin of FILE, a file of the same name in x86_64/, writes.
same_run() {
    local file=$1 want_status=0 status=0
    shift
    (cd x86_64 && "./$file" "$@") >want.out 2>want.err || want_status=$?
    launch "./$file" "$@" >got.out 2>got.err || status=$?
    diff want.out got.out
    diff want.err got.err
    [ "$status" = "$want_status" ]
}

@test "help, version, usage and refused options read as on x86_64" {
    mkdir x86_64
    cp bare64 x86_64/bare
    (cd x86_64 && ./bare --create s.run ../tree.tar)
    for args in --help --version --bogus --create; do
        same_run bare "$args"
    done
    for args in --help --version --c --target -x; do
        same_run s.run "$args"
    done
}

@test "--create writes the x86_64 launcher's header and payload for the same tar" {
    ./bare64 --create s64.run tree.tar
    payload_of s.run bare payload
    cmp payload tree.tar
    cmp <(bytes_at s.run "$(stat -c %s bare)" "$((HEADER_SIZE + $(stat -c %s tree.tar)))") \
        <(bytes_at s64.run "$(stat -c %s bare64)" "$((HEADER_SIZE + $(stat -c %s tree.tar)))")
}

@test "--info, --check and --list of an image" {
    check_run "TAR size: $(( ($(stat -c %s tree.tar) + 1023) / 1024 )) KB 
Target directory: s.run.dir 
Script to run after the extraction: ./install.sh
directory s.run.dir is permanent
" "" 0 -- launch ./s.run --info
    check_run $'Verifying archive integrity... Succeed.\n' "" 0 -- launch ./s.run --check
    check_run "Verifying archive integrity... Succeed.
$(tar -tvf tree.tar)
" "" 0 -- launch ./s.run --list
}

@test "--noexec of a plain, a zstd, an xz and a gzip image extracts the tree" {
    zstd -q -3 tree.tar -o tree.tar.zst
    xz -q -1 -k tree.tar
    gzip -1 -n -k tree.tar
    for payload in tree.tar tree.tar.zst tree.tar.xz tree.tar.gz; do
        launch ./bare --create "$payload.run" "$payload"
        check_run "Verifying archive integrity... Succeed.
Uncompressing in out...
" "" 0 -- launch "./$payload.run" --noexec --target out
        diff -r tree out
        rm -rf out
    done
}

@test "a run hands over to install.sh with the words after --" {
    check_run "Verifying archive integrity... Succeed.
Uncompressing in s.run.dir...
install.sh in s.run.dir with: a b c
" "" 0 -- launch ./s.run -- a 'b c'
}

@test "a changed payload byte is refused before anything is extracted" {
    printf 'X' | dd of=s.run bs=1 seek=$(($(stat -c %s s.run) - 100)) conv=notrunc status=none
    check_run $'Verifying archive integrity... Failed.\n' "" 255 -- launch ./s.run
    [ ! -e s.run.dir ]
}
