#!/usr/bin/env bats
# Hostile payloads extracted as root with --noexec into a reused target
# directory. Everything runs in a private mount namespace: /mnt and /tmp are
# fresh tmpfs mounts there, /mnt/outside holds files the payload aims at, and
# the test's directory is bound at /mnt/work. Before and after each run the
# owner, group, mode, size and time of everything under /mnt and /tmp is
# recorded; nothing outside /mnt/target may change, and the entries that were
# in the target before (the directory itself, root's with group nogroup, a
# file of nobody's with mode 0640, a setuid-root file) keep owner and mode.
# GNU tar refuses or rewrites some members itself; each test states its exact
# messages and status.

load helpers

setup() {
    setup_workdir
    [ -z "$EMULATOR" ] || EMULATOR=$(command -v "$EMULATOR")
}

teardown() {
    teardown_workdir
}

# extract_hostile TAR: builds an image of TAR and extracts it as root into the
# reused /mnt/target. Leaves out, err, status, before and after in $WORK.
extract_hostile() {
    make_image img "$1"
    in_mnt '
        set -e
        mkdir /mnt/outside /mnt/target
        printf secret >/mnt/outside/secret && chmod 0600 /mnt/outside/secret
        chgrp nogroup /mnt/target && chmod 0750 /mnt/target
        printf mine >/mnt/target/mine && chown nobody:nogroup /mnt/target/mine && chmod 0640 /mnt/target/mine
        printf suid >/mnt/target/suid && chmod 4755 /mnt/target/suid
        snapshot() { find /mnt /tmp -path /mnt/work -prune -o -printf "%p %u %g %m %s %T@\n" | LC_ALL=C sort; }
        snapshot >/mnt/work/before
        cd /mnt/work
        set +e
        LC_ALL=C '"${EMULATOR:+$EMULATOR }"'./img --noexec --target /mnt/target >out 2>err
        echo $? >status
        snapshot >/mnt/work/after
        find /mnt/target -mindepth 1 -path /mnt/target/mine -prune -o -path /mnt/target/suid -prune -o -printf "%P %y %u %g %m %l\n" | LC_ALL=C sort >new'
}

# outside_unchanged: every entry outside the target is as before, and the
# target's own and its earlier entries keep owner, group and mode.
outside_unchanged() {
    diff <(grep -v '^/mnt/target' before) <(grep -v '^/mnt/target' after)
    diff <(grep -E '^/mnt/target(/mine|/suid)? ' before | cut -d' ' -f1-4) \
         <(grep -E '^/mnt/target(/mine|/suid)? ' after | cut -d' ' -f1-4)
    grep -q '^/mnt/target root nogroup 750 ' after
    grep -q '^/mnt/target/mine nobody nogroup 640 4 ' after
    grep -q '^/mnt/target/suid root root 4755 4 ' after
}

# The payloads, each built with GNU tar alone.

payload_dotdot() {      # ../escape
    mkdir -p src/sub
    printf esc >src/escape
    (cd src/sub && tar -P -cf ../../hostile.tar ../escape)
}

payload_absolute() {    # /tmp/evil
    mkdir -p src
    printf evil >src/evil
    tar -P --transform 's,^.*/evil$,/tmp/evil,' -cf hostile.tar "$WORK/src/evil"
}

payload_symlink() {     # link -> /mnt/outside, then link/pwned
    mkdir -p s1 s2/link
    ln -s /mnt/outside s1/link
    printf pwned >s2/link/pwned
    tar -cf hostile.tar -C s1 link -C ../s2 link/pwned
}

payload_hardlink() {    # hl, a hard link to ../outside/secret
    mkdir -p src
    printf sec >src/secret
    ln src/secret src/hl
    tar -P -C src --transform 's,^secret$,../outside/secret,' -cf hostile.tar secret hl
    tar -P --delete -f hostile.tar ../outside/secret
}

payload_dot() {         # "." with mode 4777, owner 1234:5678, and a file
    mkdir -p dotd
    chmod 4777 dotd
    printf 'echo hi\n' >dotd/install.sh
    tar --owner=1234 --group=5678 --numeric-owner --no-recursion -C dotd -cf hostile.tar ./ ./install.sh
}

OUT_OK=$'Verifying archive integrity... Succeed.\nUncompressing in /mnt/target...'

@test "member ../escape: tar refuses it, close error, 255, nothing lands outside" {
    payload_dotdot
    extract_hostile hostile.tar
    [ "$(cat status)" = 255 ]
    [ "$(cat out)" = "$OUT_OK" ]
    [ "$(cat err)" = "tar: Removing leading \`../' from member names
tar: ../escape: Member name contains '..'
tar: Exiting with failure status due to previous errors
Close tar pipe error: tar exited with status 2" ]
    [ ! -s new ]
    run -1 grep -q escape after
    outside_unchanged
}

@test "absolute member /tmp/evil: stripped to tmp/evil inside the target, status 0" {
    payload_absolute
    extract_hostile hostile.tar
    [ "$(cat status)" = 0 ]
    [ "$(cat out)" = "$OUT_OK" ]
    [ "$(cat err)" = "tar: Removing leading \`/' from member names" ]
    [ "$(cat new)" = $'tmp d root root 755 \ntmp/evil f root root 644 ' ]
    run -1 grep -q '^/tmp/evil' after
    outside_unchanged
}

@test "symlink to /mnt/outside, then link/pwned through it: refused, nothing written outside, 255" {
    payload_symlink
    extract_hostile hostile.tar
    [ "$(cat status)" = 255 ]
    [ "$(cat out)" = "$OUT_OK" ]
    [ "$(cat err)" = "tar: link/pwned: Cannot open: Not a directory
tar: Exiting with failure status due to previous errors
Close tar pipe error: tar exited with status 2" ]
    # tar creates the link only at the end, as a link: the file went nowhere.
    [ "$(cat new)" = "link l root root 777 /mnt/outside" ]
    run -1 grep -q pwned after
    outside_unchanged
}

@test "hard link to ../outside/secret: rewritten inside the target, fails, 255, secret untouched" {
    payload_hardlink
    extract_hostile hostile.tar
    [ "$(cat status)" = 255 ]
    [ "$(cat out)" = "$OUT_OK" ]
    [ "$(cat err)" = "tar: Removing leading \`../' from hard link targets
tar: hl: Cannot hard link to 'outside/secret': No such file or directory
tar: Exiting with failure status due to previous errors
Close tar pipe error: tar exited with status 2" ]
    [ ! -s new ]
    grep -q '^/mnt/outside/secret root root 600 6 ' after
    outside_unchanged
}

@test "member . with mode 4777 and owner 1234:5678: the reused target keeps root:nogroup, 0750" {
    payload_dot
    extract_hostile hostile.tar
    [ "$(cat status)" = 0 ]
    [ "$(cat out)" = "$OUT_OK" ]
    [ ! -s err ]
    # New entries belong to root, whatever the archive says.
    [ "$(cat new)" = "install.sh f root root 644 " ]
    outside_unchanged
}
