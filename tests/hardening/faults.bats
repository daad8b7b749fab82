#!/usr/bin/env bats
# Injected faults: full disks, unwritable directories, missing programs, a tar
# that dies early, closed standard streams and overlong paths. Each test states
# the exact messages, the exit status and what is on disk afterwards. Whatever
# writes as root outside the test's directory runs in a private mount
# namespace on tmpfs; unprivileged runs go through setpriv as nobody.

load helpers

setup() {
    setup_workdir
    chmod 0755 "$WORK"
    # Absolute, so that a changed PATH or a hidden /usr/bin cannot lose it.
    [ -z "$EMULATOR" ] || EMULATOR=$(command -v "$EMULATOR")
    make_tiny_payload tiny.tar
    make_image img tiny.tar
}

teardown() {
    teardown_workdir
}

# big_payload: big.tar, install.sh and a 3 MB file of one repeated pattern.
big_payload() {
    mkdir -p big
    printf 'echo big\n' >big/install.sh
    head -c 3000000 /dev/zero | tr '\0' 'v' >big/data
    tar -C big -cf big.tar install.sh data
}

# create_on_full_disk KB TAR: --create of full/setup.run from TAR on a tmpfs
# of KB kilobytes that holds an earlier installer; leaves out, err, status,
# verdict ("same" while the earlier installer is intact) and listing (what
# full holds).
create_on_full_disk() {
    mkdir full
    head -c 1000 /dev/urandom >earlier
    run in_private_ns tmpfs:size="$1"k:full -- bash -c '
        cp earlier full/setup.run
        '"${EMULATOR:+$EMULATOR }"'./bare --create full/setup.run "$1" >out 2>err
        echo $? >status
        cmp earlier full/setup.run && echo same >verdict
        ls -A full >listing' create "$2"
    [ "$status" = 0 ]
}

@test "full disk while --create copies the launcher: Write installer file error, earlier installer untouched" {
    # Room for half the launcher.
    create_on_full_disk $(( $(stat -c %s bare) / 2048 )) tiny.tar
    [ "$(cat status)" = 255 ]
    [ ! -s out ]
    [ "$(cat err)" = "Write installer file error" ]
    [ "$(cat verdict)" = same ]
    [ "$(cat listing)" = setup.run ]   # no setup.run.XXXXXX left behind
}

@test "full disk while --create copies the payload: the installer name or write error, earlier installer untouched" {
    big_payload
    # Room for the launcher and the earlier installer, not for 3 MB more.
    create_on_full_disk $(( $(stat -c %s bare) / 1024 + 512 )) big.tar
    [ "$(cat status)" = 255 ]
    [ ! -s out ]
    case $(cat err) in
    "Write to installer error" | "Cannot write full/setup.run: No space left on device") ;;
    *) echo "unexpected: $(cat err)"; false ;;
    esac
    [ "$(wc -l <err)" = 1 ]
    [ "$(cat verdict)" = same ]
    [ "$(cat listing)" = setup.run ]
}

@test "a disk that fills although the tar fitted: tar's messages, then the close error, 255" {
    # 80 KB of tar, but 49 files of a page each on a tmpfs of 24 pages.
    mkdir small
    printf 'echo small\n' >small/install.sh
    local i names=(install.sh)
    for i in $(seq -w 1 48); do
        head -c 1000 /dev/zero >small/f$i
        names+=("f$i")
    done
    tar -C small -cf small.tar "${names[@]}"
    make_image smallimg small.tar
    mkdir t
    run in_private_ns tmpfs:size=96k,mode=0755:t -- bash -c '
        '"${EMULATOR:+$EMULATOR }"'./smallimg --noexec --target t >out 2>err
        echo $? >status
        cp -a t extracted'
    [ "$status" = 0 ]
    [ "$(cat status)" = 255 ]
    [ "$(cat out)" = $'Verifying archive integrity... Succeed.\nUncompressing in t...' ]
    head -n -2 err >tar_lines
    [ -s tar_lines ]
    run grep -cv '^tar: f[0-9]*: Cannot write: No space left on device$' tar_lines
    [ "$output" = 0 ]
    [ "$(tail -n 2 err)" = $'tar: Exiting with failure status due to previous errors\nClose tar pipe error: tar exited with status 2' ]
    # What was extracted before the disk filled stays.
    cmp small/install.sh extracted/install.sh
    cmp small/f01 extracted/f01
}

# pages_payload PAGES: fit.tar, written with 512-byte records, of install.sh
# and a file of PAGES pages of 4 KiB: 2,560 bytes of headers, script and end
# more than the pages, and one page more on a tmpfs.
pages_payload() {
    mkdir fit
    printf 'echo fit\n' >fit/install.sh
    head -c $(($1 * 4096)) /dev/urandom >fit/data
    tar -b1 -C fit -cf fit.tar install.sh data
    make_image fitimg fit.tar
}

# extract_into_tmpfs PAGES OPTIONS: fitimg run into t, a tmpfs of PAGES pages
# mounted with OPTIONS; its output in out and err, its status in status, and
# what it extracted in extracted.
extract_into_tmpfs() {
    mkdir t
    run in_private_ns tmpfs:size=$(($1 * 4096)),mode=0755"$2":t -- bash -c '
        '"${EMULATOR:+$EMULATOR }"'./fitimg --target t >out 2>err
        echo $? >status
        cp -a t extracted'
    [ "$status" = 0 ]
}

@test "a tar larger than the target's free space: refused before tar starts, nothing extracted" {
    pages_payload 24
    [ "$(stat -c %s fit.tar)" = $((24 * 4096 + 2560)) ]
    extract_into_tmpfs 24 ""
    [ "$(cat status)" = 255 ]
    [ "$(cat out)" = "Verifying archive integrity... Succeed." ]
    [ "$(cat err)" = "Not enough free space in t: 99 KB needed, 96 KB available" ]
    [ -z "$(ls -A extracted)" ]
}

@test "a zstd payload: the size its frame records counts, not the stored size" {
    mkdir fit
    printf 'echo fit\n' >fit/install.sh
    head -c $((24 * 4096)) /dev/zero >fit/data
    tar -b1 -C fit -cf fit.tar install.sh data
    zstd -q fit.tar
    [ "$(stat -c %s fit.tar.zst)" -lt 4096 ]
    make_image fitimg fit.tar.zst
    extract_into_tmpfs 24 ""
    [ "$(cat status)" = 255 ]
    [ "$(cat err)" = "Not enough free space in t: 99 KB needed, 96 KB available" ]
    [ -z "$(ls -A extracted)" ]
}

@test "a tar that just fits the target's free space is extracted and its script run" {
    pages_payload 24
    extract_into_tmpfs 25 ""
    [ "$(cat status)" = 0 ]
    [ "$(cat out)" = $'Verifying archive integrity... Succeed.\nUncompressing in t...\nfit' ]
    [ ! -s err ]
    cmp fit/data extracted/data
}

@test "a target on a noexec mount: one warning line naming it and --target, the script still runs" {
    pages_payload 1
    extract_into_tmpfs 16 ",noexec"
    [ "$(cat status)" = 0 ]
    [ "$(cat out)" = $'Verifying archive integrity... Succeed.\nUncompressing in t...\nfit' ]
    [ "$(cat err)" = "Warning: t is on a file system mounted noexec, where the script cannot run programs from the payload; extract elsewhere with --target" ]
}

@test "unwritable directory for --create (nobody): Cannot open, nothing created" {
    mkdir ro
    run as_nobody $EMULATOR ./bare --create ro/setup.run tiny.tar
    [ "$status" = 255 ]
    [ "$output" = "Cannot open ro/setup.run: Permission denied" ]
    [ -z "$(ls -A ro)" ]
}

@test "unwritable target parent (nobody): Cannot mkdir, nothing created" {
    mkdir ro
    run as_nobody $EMULATOR ./img --noexec --target ro/t
    [ "$status" = 255 ]
    [ "$output" = $'Verifying archive integrity... Succeed.\nCannot mkdir ro/t: Permission denied' ]
    [ -z "$(ls -A ro)" ]
}

@test "a target that is a file: Cannot chdir, Not a directory; the file unchanged" {
    printf 'keep' >f
    run launch ./img --noexec --target f
    [ "$status" = 255 ]
    [ "$output" = $'Verifying archive integrity... Succeed.\nCannot chdir to f: Not a directory' ]
    [ "$(cat f)" = keep ]
    [ -f f ]
}

@test "a target whose parent is missing: Cannot mkdir, No such file or directory" {
    run launch ./img --noexec --target missing/t
    [ "$status" = 255 ]
    [ "$output" = $'Verifying archive integrity... Succeed.\nCannot mkdir missing/t: No such file or directory' ]
    [ ! -e missing ]
}

# /bin/sh both runs tar (through popen) and is the script's interpreter, so
# hiding it before the run would stop the extraction too. Instead the payload
# itself takes /bin/sh away: /usr/bin (where /bin points) is a private bind
# mount of a directory holding copies of sh and tar, the target directory is
# /usr/bin, and the payload's member "sh" replaces the shell once tar, already
# running, extracts it. The exec that follows meets the replaced file.
exec_fault() {
    local member=$1
    mkdir -p fakebin pay
    cp /usr/bin/dash fakebin/sh
    cp /usr/bin/tar fakebin/tar
    # The emulator lives in /usr/bin too: run it from the copy.
    local emulator=
    [ -z "$EMULATOR" ] || { cp "$EMULATOR" fakebin/; emulator="$WORK/fakebin/$(basename "$EMULATOR") "; }
    printf 'echo should not run\n' >pay/install.sh
    case $member in
    dangling) ln -s /nonexistent/sh pay/sh ;;
    mode644)
        printf '#!/bin/dash\necho not a shell\n' >pay/sh
        chmod 0644 pay/sh
        ;;
    esac
    tar -C pay -cf pay.tar install.sh sh
    make_image shimg pay.tar
    # The namespace's bash starts before the mount hides /usr/bin/bash.
    run in_private_ns -- bash -c '
        mount --bind fakebin /usr/bin || exit 99
        PATH=/usr/bin '"$emulator"'./shimg --target /usr/bin >out 2>err
        echo $? >status'
    [ "$status" = 0 ]
}

@test "/bin/sh missing at the hand-over: Cannot exec install.sh: No such file or directory, 255" {
    exec_fault dangling
    [ "$(cat status)" = 255 ]
    [ "$(cat out)" = $'Verifying archive integrity... Succeed.\nUncompressing in /usr/bin...' ]
    [ "$(cat err)" = "Cannot exec install.sh: No such file or directory" ]
    [ -L fakebin/sh ]
    [ "$(readlink fakebin/sh)" = /nonexistent/sh ]
    [ -f fakebin/install.sh ]
}

@test "/bin/sh not executable at the hand-over: Cannot exec install.sh: Permission denied, 255" {
    exec_fault mode644
    [ "$(cat status)" = 255 ]
    [ "$(cat out)" = $'Verifying archive integrity... Succeed.\nUncompressing in /usr/bin...' ]
    [ "$(cat err)" = "Cannot exec install.sh: Permission denied" ]
    [ "$(stat -c %a fakebin/sh)" = 644 ]
}

@test "tar missing from PATH: sh's not-found line, then exit status 127 reported, 255" {
    mkdir nobin
    local i
    for i in 1 2 3; do
        run env PATH="$WORK/nobin" $EMULATOR ./img --noexec --target t$i
        [ "$status" = 255 ]
        [ "$output" = $'Verifying archive integrity... Succeed.\nUncompressing in t'$i$'...\nsh: 1: tar: not found\nClose tar pipe error: tar exited with status 127' ]
        [ -d t$i ]
        [ -z "$(ls -A t$i)" ]
    done
}

# fake_tar BODY: a tar earlier in PATH, which answers the launcher's question
# which tar it is as GNU tar does.
fake_tar() {
    mkdir -p fake
    printf '#!/bin/sh\n[ "$1" != --version ] || exec %s --version\n%s\n' "$(command -v tar)" "$1" >fake/tar
    chmod 0755 fake/tar
}

@test "tar exiting 1 after reading 100 bytes of a small archive: its status reported, 255" {
    fake_tar 'head -c 100 >/dev/null; exit 1'
    run env PATH="$WORK/fake:$PATH" timeout 20 $EMULATOR ./img --noexec --target t
    [ "$status" = 255 ]
    [ "$output" = $'Verifying archive integrity... Succeed.\nUncompressing in t...\nClose tar pipe error: tar exited with status 1' ]
}

@test "tar killing itself: the shell reports 128+9, the launcher fails with 255" {
    fake_tar 'head -c 100 >/dev/null; kill -KILL $$'
    run env PATH="$WORK/fake:$PATH" timeout 20 $EMULATOR ./img --noexec --target t
    [ "$status" = 255 ]
    # popen's shell forks for the script, so it sees the signal and exits 137.
    [ "$output" = $'Verifying archive integrity... Succeed.\nUncompressing in t...\nKilled\nClose tar pipe error: tar exited with status 137' ]
}

# big_image_with_tar EXIT: a fake tar reads 100 bytes of a payload larger than
# the pipe, then exits with EXIT; the run's output is in $output.
big_image_with_tar() {
    big_payload
    make_image bigimg big.tar
    fake_tar "head -c 100 >/dev/null; exit $1"
    run env PATH="$WORK/fake:$PATH" timeout 20 $EMULATOR ./bigimg --noexec --target t
}

@test "tar exiting early on an archive larger than the pipe: its status reported, 255, no signal" {
    big_image_with_tar 1
    [ "$status" = 255 ]
    [ "$output" = $'Verifying archive integrity... Succeed.\nUncompressing in t...\nClose tar pipe error: tar exited with status 1' ]
}

@test "tar succeeding without reading the whole archive: its status decides, 0" {
    big_image_with_tar 0
    [ "$status" = 0 ]
    [ "$output" = $'Verifying archive integrity... Succeed.\nUncompressing in t...' ]
}

@test "standard input closed at the extraction prompt: five prompts, exit 0, nothing extracted" {
    run bash -c "$EMULATOR ./img --confirm --target t <&-"
    [ "$status" = 0 ]
    local prompt='About to extract 2 KB in t ... Proceed? [y/n] '
    [ "$output" = "Verifying archive integrity... Succeed."$'\n'"$prompt$prompt$prompt$prompt$prompt" ]
    [ ! -e t ]
}

@test "standard input at end of file at both prompts: five prompts each, script not run" {
    run bash -c "$EMULATOR ./img --confirm --target t </dev/null"
    [ "$status" = 0 ]
    [ ! -e t ]
    run bash -c "printf 'y\n' | $EMULATOR ./img --confirm --target t"
    [ "$status" = 0 ]
    local q='OK to execute: install.sh ? [y/n] '
    [ "$output" = "Verifying archive integrity... Succeed."$'\n'"About to extract 2 KB in t ... Proceed? [y/n] Uncompressing in t..."$'\n'"$q$q$q$q$q" ]
    [ "$(ls -A t)" = install.sh ]
}

@test "PATH unset with a bare argv[0]: Cannot find PATH env" {
    run bash -c 'unset PATH; '"${EMULATOR:+$EMULATOR -0 img ./img --check}${EMULATOR:-exec -a img ./img --check}"
    [ "$status" = 255 ]
    [ "$output" = "Cannot find PATH env" ]
}

# pad_to LENGTH: a path to $WORK of exactly LENGTH characters ("/." steps and a
# doubled slash at most).
pad_to() {
    local path=$WORK
    while (( ${#path} + 2 <= $1 )); do path+=/.; done
    if (( ${#path} < $1 )); then
        path+=/
    fi
    echo "$path"
}

@test "argv[0] of 4,095 characters is used; 4,096 is Too long program name" {
    local argv0
    argv0=$(pad_to 4091)/img
    [ "${#argv0}" = 4095 ]
    run launch_as "$argv0" ./img --check
    [ "$status" = 0 ]
    [ "$output" = "Verifying archive integrity... Succeed." ]
    argv0=$(pad_to 4092)/img
    [ "${#argv0}" = 4096 ]
    run launch_as "$argv0" ./img --check
    [ "$status" = 255 ]
    [ "$output" = "Too long program name $argv0" ]
}

@test "PATH elements joined to 4,095 characters fit; 4,096 are Too big / Too long PATH" {
    local fits long
    fits=$(pad_to 4091) long=$(pad_to 4092)
    PATH="$fits" run launch_as img ./img --check
    [ "$status" = 0 ]
    [ "$output" = "Verifying archive integrity... Succeed." ]
    PATH="$fits:/nonexistent" run launch_as img ./img --check
    [ "$status" = 0 ]
    [ "$output" = "Verifying archive integrity... Succeed." ]
    PATH="$long" run launch_as img ./img --check
    [ "$status" = 255 ]
    [ "$output" = "Too long PATH $long" ]
    # An overlong element stops the search although a later one would match.
    PATH="$long:$WORK" run launch_as img ./img --check
    [ "$status" = 255 ]
    [ "$output" = "Too big PATH $long:$WORK" ]
}

@test "standard output on /dev/full: --info, --check, --list fail with the write error, 255" {
    local option
    for option in --info --check; do
        run bash -c "$EMULATOR ./img $option >/dev/full"
        [ "$status" = 255 ]
        [ "$output" = "Write error on standard output: No space left on device" ]
    done
    # tar fails on its own output first; the launcher's own earlier output
    # failed too, and its report must carry that failure's cause.
    run bash -c "$EMULATOR ./img --list >/dev/full"
    [ "$status" = 255 ]
    [ "${lines[0]}" = "tar: stdout: write error" ]
    [ "${lines[1]}" = "Close tar pipe error: tar exited with status 2" ]
    [ "${lines[2]}" = "Write error on standard output: No space left on device" ]
    [ "${#lines[@]}" = 3 ]
}

@test "standard output on /dev/full before the hand-over: the write error, 255, the script not run" {
    printf 'touch ran\n' >tiny/install.sh
    tar -b1 -C tiny -cf ran.tar install.sh
    make_image ranimg ran.tar
    run bash -c "$EMULATOR ./ranimg --target t >/dev/full"
    [ "$status" = 255 ]
    [ "$output" = "Write error on standard output: No space left on device" ]
    [ -f t/install.sh ]
    [ ! -e t/ran ]
}
