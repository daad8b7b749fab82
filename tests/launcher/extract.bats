#!/usr/bin/env bats
# Extraction through tar: the target directory, tar's command line and its
# failures, and who owns what afterwards.

load helpers

VERIFIED=$'Verifying archive integrity... Succeed.\n'

setup() {
    setup_image_test
    launch ./bare --create s.run p.tar
}
teardown() { teardown_image_test; }

# fake_tool NAME: a NAME in $WORK/fake that logs its arguments to
# $WORK/log/NAME (a directory anyone may write) and runs the real NAME.
fake_tool() {
    mkdir -p "$WORK/fake" "$WORK/log"
    chmod 777 "$WORK/log"
    local real
    real=$(command -v "$1")
    printf '#!/bin/sh\necho "$*" >>"%s/log/%s"\nexec %s "$@"\n' "$WORK" "$1" "$real" >"$WORK/fake/$1"
    chmod 755 "$WORK/fake/$1"
}

# slow_path: a PATH of many empty elements. tar that does not read its input
# must end only after the launcher has written the archive into the pipe, or
# the launcher gets SIGPIPE; the shell's long search for tar sees to that.
slow_path() {
    local path=$WORK/empty i
    mkdir -p "$WORK/empty"
    for ((i = 0; i < 3000; i++)); do path+=":$WORK/empty"; done
    echo "$path"
}

@test "a target that is a regular file cannot be entered" {
    echo file >t
    check_run "$VERIFIED" $'Cannot chdir to t: Not a directory\n' 255 -- launch ./s.run --target t
    [ "$(cat t)" = file ]
}

@test "a target whose parent is missing cannot be made" {
    check_run "$VERIFIED" $'Cannot mkdir a/b: No such file or directory\n' 255 -- launch ./s.run --target a/b
    [ ! -e a ]
}

@test "a target in a directory that the user cannot write" {
    chmod 755 "$WORK"
    mkdir ro
    check_run "$VERIFIED" $'Cannot mkdir ro/t: Permission denied\n' 255 -- as_nobody $EMULATOR ./s.run --target ro/t
    [ -z "$(ls -A ro)" ]
}

@test "the default target in a working directory that the user cannot write" {
    chmod 755 "$WORK"
    mkdir ro
    cd ro
    check_run "$VERIFIED" $'Cannot mkdir s.run.dir: Permission denied\n' 255 -- as_nobody $EMULATOR ../s.run --noexec
    [ -z "$(ls -A)" ]
}

@test "an archive padded past the end-of-archive marker (4 MiB of zeros), plain and zstd: tar stops at the marker, 0" {
    head -c 4194304 /dev/zero >>p.tar
    zstd -q -c p.tar >p.tar.zst
    launch ./bare --create plain.run p.tar
    launch ./bare --create zstd.run p.tar.zst
    check_run "${VERIFIED}Uncompressing in t..."$'\n' "" 0 -- launch ./plain.run --noexec --target t
    check_run "${VERIFIED}Uncompressing in z..."$'\n' "" 0 -- launch ./zstd.run --noexec --target z
    [ -f t/install.sh ]
    [ -f z/install.sh ]
}

@test "a payload that is not a tar archive: tar's status is reported, the target stays" {
    echo 'not an archive' >notes.txt
    launch ./bare --create t.run notes.txt
    check_run "${VERIFIED}Uncompressing in t.run.dir..."$'\n' \
        $'tar: This does not look like a tar archive\ntar: Exiting with failure status due to previous errors\nClose tar pipe error: tar exited with status 2\n' 255 -- \
        launch ./t.run
    [ -d t.run.dir ]
    [ -z "$(ls -A t.run.dir)" ]
}

@test "tar missing from PATH: the shell's complaint and status 127" {
    check_run "${VERIFIED}Uncompressing in s.run.dir..."$'\n' \
        $'sh: 1: tar: not found\nClose tar pipe error: tar exited with status 127\n' 255 -- \
        with_path "$(slow_path)" launch ./s.run
    [ -d s.run.dir ]
    [ -z "$(ls -A s.run.dir)" ]
}

@test "a custom command's exit status or signal is reported as such" {
    check_run "${VERIFIED}Run: tar tf - ; exit 3"$'\n./\n./install.sh\n' \
        $'Close tar pipe error: tar exited with status 3\n' 255 -- launch ./s.run --tar tf ';' exit 3
    check_run "${VERIFIED}Run: tar tf - ; kill -9 \$\$"$'\n./\n./install.sh\n' \
        $'Close tar pipe error: tar killed by signal 9\n' 255 -- launch ./s.run --tar tf ';' kill -9 '$$'
    # tar's own complaint and status for an option that it does not know.
    local complaint status=0
    complaint=$(tar tf - --bogus-option </dev/null 2>&1) || status=$?
    [ "$status" -ne 0 ]
    [ -n "$complaint" ]
    check_run "${VERIFIED}Run: tar tf - --bogus-option"$'\n' \
        "$complaint"$'\n'"Close tar pipe error: tar exited with status $status"$'\n' 255 -- \
        with_path "$(slow_path):$PATH" launch ./s.run --tar tf --bogus-option
    [ ! -e s.run.dir ]
}

# existing_target: the target t exists, root's with group nogroup and mode
# 0750, holding nobody's files and directory and a set-user-ID file.
existing_target() {
    mkdir -m 750 t t/sub
    echo old >t/old.txt
    echo old >t/sub/old.txt
    echo suid >t/suid
    chmod 640 t/old.txt t/sub/old.txt
    chmod 700 t/sub
    chown -R nobody:nogroup t
    chown root t
    chmod 4755 t/suid
}

# foreign_image: q.run, of a payload whose entries belong to 1234:1234 and
# include . and sub, with modes that a creation mask of 022 would change.
foreign_image() {
    mkdir -p q/sub q/newdir
    echo new >q/new.txt
    echo new >q/sub/new.txt
    echo 'echo script' >q/install.sh
    chmod 664 q/new.txt
    chmod 770 q/newdir
    chmod 4755 q/install.sh
    tar -C q --owner=1234 --group=1234 -cf q.tar .
    launch ./bare --create q.run q.tar
}

@test "as root GNU tar extracts without owners and without touching existing directories; no chown" {
    [ "$(id -u)" -eq 0 ] || skip "needs root"
    fake_tool tar
    fake_tool chown
    existing_target
    foreign_image
    before=$(cd t && stat -c '%n %u:%g %a' . old.txt suid sub sub/old.txt)
    PATH=$WORK/fake:$PATH check_run "${VERIFIED}Uncompressing in t..."$'\n' "" 0 -- launch ./q.run --target t --noexec
    # Asked once which tar it is, then given large records as well.
    [ "$(cat log/tar)" = $'--version\n--no-same-owner --no-overwrite-dir -b 512 -B -xf -' ]
    [ ! -e log/chown ]
    [ "$(cd t && stat -c '%n %u:%g %a' . old.txt suid sub sub/old.txt)" = "$before" ]
    [ "$(cd t && stat -c '%n %u:%g' install.sh new.txt newdir sub/new.txt)" = \
        "$(printf '%s 0:0\n' install.sh new.txt newdir sub/new.txt)" ]
    [ "$(cat t/sub/new.txt)" = new ]
}

@test "as another user tar just extracts, files owned by that user" {
    fake_tool tar
    fake_tool chown
    chmod 755 "$WORK"
    mkdir home
    chown nobody home
    cp s.run home/
    cd home
    PATH=$WORK/fake:$PATH check_run "${VERIFIED}Uncompressing in s.run.dir..."$'\n' "" 0 -- as_nobody $EMULATOR ./s.run --noexec
    [ "$(cat ../log/tar)" = $'--version\n-b 512 -B -xf -' ]
    [ ! -e ../log/chown ]
    [ "$(stat -c '%U %a' s.run.dir s.run.dir/install.sh)" = $'nobody 755\nnobody 644' ]
}

@test "listing runs GNU tar with large records, custom commands run as given; never chown" {
    fake_tool tar
    fake_tool chown
    PATH=$WORK/fake:$PATH check_run "$VERIFIED$(listing p.tar)"$'\n' "" 0 -- launch ./s.run --list
    PATH=$WORK/fake:$PATH check_run "${VERIFIED}Run: tar tf - ./install.sh"$'\n./install.sh\n' "" 0 -- \
        launch ./s.run --tar tf ./install.sh
    [ "$(cat log/tar)" = $'--version\n-b 512 -B -tvf -\ntf - ./install.sh' ]
    [ ! -e log/chown ]
    [ ! -e s.run.dir ]
}

@test "the launcher's output is flushed before tar's and the script's" {
    # Both write to the same file: the launcher's buffered lines must come first.
    mkdir q
    printf 'echo "script says hi"\n' >q/install.sh
    tar -C q -cvf q.tar . >/dev/null
    launch ./bare --create q.run q.tar
    launch ./q.run >out.txt 2>&1
    [ "$(cat out.txt)" = "${VERIFIED}Uncompressing in q.run.dir..."$'\nscript says hi' ]
    launch ./q.run --tar tvf ';' echo tail >out.txt 2>&1
    [ "$(cat out.txt)" = "${VERIFIED}Run: tar tvf - ; echo tail"$'\n'"$(listing q.tar)"$'\ntail' ]
}

# busybox_tar: $WORK/bb, a directory whose only program is BusyBox as tar,
# and BB_LAUNCH, the emulator by its absolute path when there is one.
busybox_tar() {
    command -v busybox >/dev/null || skip "busybox is not installed"
    mkdir -p "$WORK/bb"
    ln -s "$(command -v busybox)" "$WORK/bb/tar"
    BB_LAUNCH=${EMULATOR:+$(command -v "$EMULATOR")}
}

@test "as root with BusyBox tar: new entries root's with the archive's modes, existing directories alone" {
    [ "$(id -u)" -eq 0 ] || skip "needs root"
    busybox_tar
    existing_target
    foreign_image
    before=$(cd t && stat -c '%n %u:%g %a' . sub sub/old.txt)
    check_run "${VERIFIED}Uncompressing in t..."$'\n' "" 0 -- with_path "$WORK/bb" $BB_LAUNCH ./q.run --target t --noexec
    [ "$(cd t && stat -c '%n %u:%g %a' . sub sub/old.txt)" = "$before" ]
    [ "$(cd t && stat -c '%n %u:%g %a' install.sh new.txt newdir sub/new.txt)" = \
        $'install.sh 0:0 4755\nnew.txt 0:0 664\nnewdir 0:0 770\nsub/new.txt 0:0 644' ]
    [ "$(cat t/sub/new.txt)" = new ]
}

@test "as another user with BusyBox tar: the entries are that user's" {
    busybox_tar
    chmod 755 "$WORK"
    mkdir home
    chown nobody home
    cp s.run home/
    cd home
    check_run "${VERIFIED}Uncompressing in s.run.dir..."$'\n' "" 0 -- \
        setpriv --reuid=nobody --regid=nogroup --clear-groups -- env PATH="$WORK/bb" $BB_LAUNCH ./s.run --noexec
    [ "$(stat -c '%U %a' s.run.dir s.run.dir/install.sh)" = $'nobody 755\nnobody 644' ]
}

@test "as root with a tar that is neither GNU's nor BusyBox's: refused before the target is made" {
    [ "$(id -u)" -eq 0 ] || skip "needs root"
    mkdir fake
    printf '#!/bin/sh\necho "tar (other) 1.0"\n' >fake/tar
    chmod 755 fake/tar
    PATH=$WORK/fake:$PATH check_run "$VERIFIED" $'Extracting as root needs GNU tar or BusyBox tar as tar in PATH\n' 255 -- \
        launch ./s.run
    [ ! -e s.run.dir ]
}
