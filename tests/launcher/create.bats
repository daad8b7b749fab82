#!/usr/bin/env bats
# A bare launcher: its command line and the installer images it builds.

load helpers

setup() { setup_image_test; }
teardown() { teardown_image_test; }

USAGE=$'Usage: bare --create <INSTALLER_NAME> <TAR_FILE>\n'
NO_ARCHIVE=$'This installer does not contain an embedded archive\n'

# Only the listed names are in the working directory.
only_files() {
    [ "$(ls -A | sort | tr '\n' ' ')" = "$(printf '%s\n' "$@" | sort | tr '\n' ' ')" ]
}

@test "without arguments a bare launcher has no archive to run" {
    check_run "" "$NO_ARCHIVE" 255 -- launch ./bare
}

@test "words that are not options do not make a bare launcher build" {
    check_run "" "$NO_ARCHIVE" 255 -- launch ./bare foo bar
    only_files bare p p.tar
}

@test "run-mode options are unknown to a bare launcher" {
    check_run "" $'./bare: unrecognized option \'--check\'\n' 255 -- launch ./bare --check
    check_run "" $'./bare: unrecognized option \'--info\'\n' 255 -- launch ./bare --info
}

@test "--create without a tar file prints the usage line and fails" {
    check_run "$USAGE" "" 255 -- launch ./bare --create out.run
    only_files bare p p.tar
}

@test "--create without its argument draws the option scanner's complaint" {
    check_run "" $'./bare: option \'--create\' requires an argument\n' 255 -- launch ./bare --create
}

@test "--help, -h and --he print the usage line" {
    check_run "$USAGE" "" 0 -- launch ./bare --help
    check_run "$USAGE" "" 0 -- launch ./bare -h
    check_run "$USAGE" "" 0 -- launch ./bare --he
    mkdir x
    cp bare x/setup
    check_run $'Usage: setup --create <INSTALLER_NAME> <TAR_FILE>\n' "" 0 -- launch x/setup -h
}

@test "--version prints the version, also before --create, which is then ignored" {
    check_run "Vorlan Installer $VORLAN_VERSION"$'\n' "" 0 -- launch ./bare --version
    check_run "Vorlan Installer $VORLAN_VERSION"$'\n' "" 0 -- launch ./bare --version --create out.run p.tar
    only_files bare p p.tar
}

@test "an image is the launcher, the size, the digest and the tar, byte for byte" {
    check_run "" "" 0 -- launch ./bare --create out.run p.tar
    T=$(stat -c %s p.tar)
    [ "$(stat -c %s out.run)" -eq $((E + HEADER_SIZE + T)) ]
    cmp -n "$E" bare out.run
    cmp <(le64 "$T") <(bytes_at out.run "$E" 8)
    [ "$(bytes_at out.run $((E + 8)) 16 | od -An -tx1 | tr -d ' \n')" = "$(md5sum <p.tar | cut -c1-32)" ]
    cmp p.tar <(tail -c +$((E + HEADER_SIZE + 1)) out.run)
    [ "$(stat -c %a out.run)" = 755 ]
    only_files bare p p.tar out.run
}

@test "--c abbreviates --create and words after the tar file are ignored" {
    check_run "" "" 0 -- launch ./bare --c out.run p.tar extra words
    cmp -n "$E" bare out.run
    cmp p.tar <(tail -c +$((E + HEADER_SIZE + 1)) out.run)
    only_files bare p p.tar out.run
}

@test "the image is mode 0755 under a file-creation mask of 077" {
    umask 077
    check_run "" "" 0 -- launch ./bare --create out.run p.tar
    [ "$(stat -c %a out.run)" = 755 ]
}

@test "an existing file of mode 0600 is replaced by the image, now 0755" {
    echo old >out.run
    chmod 600 out.run
    check_run "" "" 0 -- launch ./bare --create out.run p.tar
    [ "$(stat -c %a out.run)" = 755 ]
    [ "$(stat -c %s out.run)" -eq $((E + HEADER_SIZE + $(stat -c %s p.tar))) ]
    cmp p.tar <(tail -c +$((E + HEADER_SIZE + 1)) out.run)
    only_files bare p p.tar out.run
}

@test "an empty tar file gives a header of size 0 and the digest of nothing" {
    : >empty.tar
    check_run "" "" 0 -- launch ./bare --create out.run empty.tar
    [ "$(stat -c %s out.run)" -eq $((E + HEADER_SIZE)) ]
    cmp <(le64 0) <(bytes_at out.run "$E" 8)
    [ "$(bytes_at out.run $((E + 8)) 16 | od -An -tx1 | tr -d ' \n')" = d41d8cd98f00b204e9800998ecf8427e ]
    check_run $'Verifying archive integrity... Succeed.\n' "" 0 -- launch ./out.run --check
}

@test "a tar of an exact multiple of 4096 bytes is carried whole" {
    tar -C p -b 8 -cf p8.tar .
    T=$(stat -c %s p8.tar)
    [ $((T % 4096)) -eq 0 ]
    check_run "" "" 0 -- launch ./bare --create out.run p8.tar
    [ "$(stat -c %s out.run)" -eq $((E + HEADER_SIZE + T)) ]
    cmp <(le64 "$T") <(bytes_at out.run "$E" 8)
    cmp p8.tar <(tail -c +$((E + HEADER_SIZE + 1)) out.run)
    check_run $'Verifying archive integrity... Succeed.\n' "" 0 -- launch ./out.run --check
}

@test "building twice from the same inputs gives identical images" {
    head -c 100000 /dev/urandom >big.tar
    check_run "" "" 0 -- launch ./bare --create one.run big.tar
    check_run "" "" 0 -- launch ./bare --create two.run big.tar
    cmp one.run two.run
    cmp big.tar <(tail -c +$((E + HEADER_SIZE + 1)) one.run)
}

@test "a missing tar file leaves an existing installer untouched and nothing behind" {
    echo old >out.run
    chmod 600 out.run
    check_run "" $'Cannot open missing.tar: No such file or directory\n' 255 -- \
        launch ./bare --create out.run missing.tar
    [ "$(cat out.run)" = old ]
    [ "$(stat -c %a out.run)" = 600 ]
    only_files bare p p.tar out.run
}

@test "a missing tar file creates no installer" {
    check_run "" $'Cannot open missing.tar: No such file or directory\n' 255 -- \
        launch ./bare --create out.run missing.tar
    only_files bare p p.tar
}

@test "an installer name in a missing directory is reported by that name" {
    check_run "" $'Cannot open nodir/out.run: No such file or directory\n' 255 -- \
        launch ./bare --create nodir/out.run p.tar
    only_files bare p p.tar
}

@test "an installer name in a directory that cannot be written" {
    chmod 755 "$WORK"
    mkdir ro
    echo old >ro/out.run
    check_run "" $'Cannot open ro/out.run: Permission denied\n' 255 -- \
        as_nobody $EMULATOR ./bare --create ro/out.run p.tar
    [ "$(cat ro/out.run)" = old ]
    [ "$(ls -A ro)" = out.run ]
}

@test "the tar file named as the installer is refused and left intact" {
    cp p.tar keep.tar
    check_run "" $'Installer p.tar and tar file p.tar are the same file\n' 255 -- \
        launch ./bare --create p.tar p.tar
    cmp keep.tar p.tar
    only_files bare p p.tar keep.tar
}

@test "a hard link or a symbolic link to the tar file is the same file" {
    cp p.tar keep.tar
    ln p.tar hard.run
    ln -s p.tar soft.run
    check_run "" $'Installer hard.run and tar file p.tar are the same file\n' 255 -- \
        launch ./bare --create hard.run p.tar
    check_run "" $'Installer soft.run and tar file p.tar are the same file\n' 255 -- \
        launch ./bare --create soft.run p.tar
    cmp keep.tar p.tar
    [ "$(readlink soft.run)" = p.tar ]
    only_files bare p p.tar keep.tar hard.run soft.run
}

@test "/dev/null is not a regular tar file" {
    check_run "" $'Tar file /dev/null is not a regular file\n' 255 -- \
        launch ./bare --create out.run /dev/null
    only_files bare p p.tar
}

@test "a directory is not a regular tar file" {
    check_run "" $'Tar file p is not a regular file\n' 255 -- launch ./bare --create out.run p
    only_files bare p p.tar
}

@test "a FIFO is not a regular tar file" {
    mkfifo fifo
    check_run "" $'Tar file fifo is not a regular file\n' 255 -- \
        timeout 3 $EMULATOR ./bare --create out.run fifo
    only_files bare p p.tar fifo
}

@test "a full file system is reported when the image is flushed; the old installer stays" {
    # The launcher's whole blocks fit; the buffered rest (its last partial
    # block, the header and a small tar) does not.
    head -c 100 /dev/urandom >small.tar
    [ $((E % 4096 + HEADER_SIZE + 100)) -lt 4096 ] || skip "launcher size leaves no room for the buffered tail"
    run unshare -m bash -c '
        mount -t tmpfs -o size=$(( ($1 / 4096 + 1) * 4096 )) vorlan-test "$2" || exit 99
        cd "$2" && echo old >out.run && chmod 600 out.run || exit 99
        $3 "$4" --create out.run "$5" >"$6/out" 2>"$6/err"
        echo "status $?"
        ls -A; stat -c %a out.run; cat out.run' \
        - "$E" "$WORK/p" "$EMULATOR" "$WORK/bare" "$WORK/small.tar" "$CAPTURE"
    [ "$status" -eq 0 ]
    [ "$output" = $'status 255\nout.run\n600\nold' ]
    [ ! -s "$CAPTURE/out" ]
    [ "$(cat "$CAPTURE/err")" = "Cannot write out.run: No space left on device" ]
}

# want_image TAR: what an image of the bare launcher and TAR holds, put together here.
want_image() {
    cat bare
    le64 "$(stat -c %s "$1")"
    printf "$(md5sum <"$1" | cut -c1-32 | sed 's/../\\x&/g')"
    cat "$1"
}

# traced OUT COMMAND [ARGS...]: runs COMMAND with its copy_file_range calls
# (the emulator's, for the i386 launcher) written to OUT.
traced() {
    local out=$1
    shift
    strace -f -qq -o "$out" -e trace=copy_file_range "$@"
}

@test "the kernel's copy and the stream loop across file systems write the same image" {
    command -v strace >/dev/null || skip "strace is not installed"
    # More than the stream buffer, so that the loop goes round.
    head -c 300000 /dev/urandom >p/data
    tar -C p -cf big.tar .
    want_image big.tar >want.run
    check_run "" "" 0 -- traced same.trace $EMULATOR ./bare --create same.run big.tar
    cmp want.run same.run
    grep -q "copy_file_range(.*) = $(stat -c %s big.tar)$" same.trace
    run -1 grep -q 'EXDEV' same.trace
    # A tmpfs beside the disk: since Linux 5.19 the kernel refuses with EXDEV.
    mkdir other
    run unshare -m bash -c '
        mount -t tmpfs vorlan-test other || exit 99
        strace -f -qq -o cross.trace -e trace=copy_file_range $1 ./bare --create other/out.run big.tar || exit
        cp other/out.run cross.run' - "$EMULATOR"
    [ "$status" -eq 0 ]
    [ -z "$output" ]
    cmp want.run cross.run
    grep -q 'EXDEV' cross.trace
    run -1 grep -q 'copy_file_range(.*) = [1-9]' cross.trace
    [ "$(md5sum <big.tar | cut -c1-32)" = "$(bytes_at cross.run $((E + 8)) 16 | od -An -tx1 | tr -d ' \n')" ]
}

@test "a disk that fills during the kernel's copy leaves no partial image; the old installer stays" {
    command -v strace >/dev/null || skip "strace is not installed"
    head -c 600000 /dev/urandom >small.tar
    # Room for the launcher, the tar, the image's launcher bytes and half the tar.
    local kb=$(( (2 * E + 600000 + 300000) / 1024 ))
    run unshare -m bash -c '
        mount -t tmpfs -o size="$1"k vorlan-test "$2" || exit 99
        cp bare small.tar "$2" && cd "$2" && echo old >out.run && chmod 600 out.run || exit 99
        strace -f -qq -o "$3/trace" -e trace=copy_file_range $4 ./bare --create out.run small.tar \
            >"$3/out" 2>"$3/err"
        echo "status $?"
        ls -A; stat -c %a out.run; cat out.run' \
        - "$kb" "$WORK/p" "$CAPTURE" "$EMULATOR"
    [ "$status" -eq 0 ]
    [ "$output" = $'status 255\nbare\nout.run\nsmall.tar\n600\nold' ]
    [ ! -s "$CAPTURE/out" ]
    [ "$(cat "$CAPTURE/err")" = "Write to installer error" ]
    grep -q 'ENOSPC' "$CAPTURE/trace"
}

@test "a disk that fails the image's write-back is a write failure; the old installer stays" {
    command -v mkfs.ext4 >/dev/null || skip "mkfs.ext4 is not installed"
    # Large enough for the sync in the background, where the launcher has it.
    truncate -s 64M big.tar
    # ext4 on a loop device over a file in a 4 MiB tmpfs: the file system
    # takes the image into memory and fails it when written back, as a
    # failing disk does, after the copy and during the digest pass.
    mkdir m
    run unshare -m bash -c '
        mount -t tmpfs -o size=4m vorlan-test m && truncate -s 128m m/disk && mkfs.ext4 -q m/disk || exit 99
        mkdir m/fs && mount -o loop m/disk m/fs && echo old >m/fs/out.run && chmod 600 m/fs/out.run || exit 99
        (cd m/fs && $1 "$2/bare" --create out.run "$2/big.tar" >"$3/out" 2>"$3/err")
        echo "status $?"
        ls -A m/fs; stat -c %a m/fs/out.run; cat m/fs/out.run' - "$EMULATOR" "$WORK" "$CAPTURE"
    [ "$status" -eq 0 ]
    [ "$output" = $'status 255\nlost+found\nout.run\n600\nold' ]
    [ ! -s "$CAPTURE/out" ]
    [ "$(cat "$CAPTURE/err")" = "Cannot write out.run: No space left on device" ]
}

@test "the image's sync runs in the kernel while the digest is taken" {
    [ -z "$EMULATOR" ] || skip "qemu-i386 passes no asynchronous I/O to the kernel"
    command -v strace >/dev/null || skip "strace is not installed"
    truncate -s 64M big.tar
    strace -f -qq -y -o "$CAPTURE/strace" -e trace=io_submit,io_getevents,read,readv ./bare --create out.run big.tar
    # Asked for once the tar is copied, collected after the pass has read it.
    awk '/^[0-9]+ +io_submit\(.*IOCB_CMD_FDSYNC.*out\.run\..*= 1$/ { submitted = NR }
        /^[0-9]+ +readv?\(.*big\.tar>.*= [1-9][0-9]*$/ { if (submitted) read_after = NR }
        /^[0-9]+ +io_getevents\(.*res=0.*= 1$/ { collected = NR }
        END { exit !(read_after && read_after < collected) }' "$CAPTURE/strace"
    [ "$(tail -c +$((E + HEADER_SIZE + 1)) out.run | md5sum)" = "$(md5sum <big.tar)" ]
}

@test "the background sync's wait, interrupted by a signal, is made again: the image is whole" {
    [ -z "$EMULATOR" ] || skip "qemu-i386 passes no asynchronous I/O to the kernel"
    command -v strace >/dev/null || skip "strace is not installed"
    truncate -s 64M big.tar
    check_run "" "" 0 -- strace -f -qq -o "$CAPTURE/strace" -e trace=io_getevents \
        -e inject=io_getevents:error=EINTR:when=1 ./bare --create out.run big.tar
    grep -q '^[0-9]* *io_getevents(.* = -1 EINTR .*(INJECTED)$' "$CAPTURE/strace"
    want_image big.tar | cmp - out.run
}

@test "an installer name in another directory is written there, with no leftovers" {
    mkdir sub
    check_run "" "" 0 -- launch ./bare --create sub/out.run p.tar
    [ "$(ls -A sub)" = out.run ]
    cmp p.tar <(tail -c +$((E + HEADER_SIZE + 1)) sub/out.run)
    only_files bare p p.tar sub
}

@test "a directory of the installer name is not replaced and nothing is left behind" {
    mkdir out.run
    touch out.run/keep
    run launch ./bare --create out.run p.tar
    [ "$status" -eq 255 ]
    [[ "$output" == *"out.run"*"Is a directory"* ]]
    [ "$(ls -A out.run)" = keep ]
    only_files bare p p.tar out.run
}

# create_traced [INJECT]: builds sub/out.run under strace, whose log of the
# syncs and the rename (descriptors by path, random suffixes as XXXXXX) goes
# to $CAPTURE/trace; INJECT, strace's fault syntax, fails one call.
create_traced() {
    mkdir -p sub
    echo old >sub/out.run
    strace -f -qq -y -o "$CAPTURE/strace" -e trace=fsync,rename,renameat,renameat2 -e signal=none \
        ${1:+-e "inject=$1"} $EMULATOR ./bare --create sub/out.run p.tar >"$CAPTURE/out" 2>"$CAPTURE/err" \
        || status=$?
    sed -E 's/^[0-9]+ +//; s/\([0-9]+</(</; s/\.[A-Za-z0-9]{6}([>"])/.XXXXXX\1/g; s/\) += /) = /' \
        "$CAPTURE/strace" >"$CAPTURE/trace"
}

@test "the image reaches the disk before the rename, the rename after it" {
    local status=0 dir
    dir=$(pwd -P)/sub
    create_traced
    [ "$status" -eq 0 ]
    [ ! -s "$CAPTURE/err" ]
    [ "$(cat "$CAPTURE/trace")" = "fsync(<$dir/out.run.XXXXXX>) = 0
rename(\"sub/out.run.XXXXXX\", \"sub/out.run\") = 0
fsync(<$dir>) = 0" ]
    cmp p.tar <(tail -c +$((E + HEADER_SIZE + 1)) sub/out.run)
}

@test "a failed sync is a write failure: before the rename the old installer stays, after it the new one" {
    local status=0
    create_traced fsync:error=EIO:when=1
    [ "$status" -eq 255 ]
    [ ! -s "$CAPTURE/out" ]
    [ "$(cat "$CAPTURE/err")" = "Cannot write sub/out.run: Input/output error" ]
    [ "$(ls -A sub)" = out.run ]
    [ "$(cat sub/out.run)" = old ]
    status=0
    create_traced fsync:error=EIO:when=2
    [ "$status" -eq 255 ]
    [ ! -s "$CAPTURE/out" ]
    [ "$(cat "$CAPTURE/err")" = "Cannot write sub/out.run: Input/output error" ]
    [ "$(ls -A sub)" = out.run ]
    cmp p.tar <(tail -c +$((E + HEADER_SIZE + 1)) sub/out.run)
}
