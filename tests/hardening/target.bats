#!/usr/bin/env bats
# Target directories that someone else controls. Each run happens in a private
# mount namespace with fresh tmpfs mounts on /mnt and /tmp (sticky and
# world-writable, as usual) and the test's directory bound at /mnt/work. The
# payload's script marks the directory it runs in and sources every *.install
# there, as the shipped script runs them; a planted one creates /mnt/pwned.
# A refused target leaves everything under /mnt and /tmp as it was.

load helpers

setup() {
    setup_workdir
    chmod 0755 "$WORK"
    [ -z "$EMULATOR" ] || EMULATOR=$(command -v "$EMULATOR")
    mkdir pay
    printf ': >ran\nfor f in ./*.install; do [ -f "$f" ] && . "$f"; done\nexit 0\n' >pay/install.sh
    tar -C pay -cf pay.tar install.sh
    make_image img pay.tar
    chmod 0755 img
}

teardown() {
    teardown_workdir
}

VERIFIED=$'Verifying archive integrity... Succeed.\n'
PLANT='printf ": >/mnt/pwned\n" >zz-planted.install'

# target_run SETUP ARGS...: runs bash code SETUP in /mnt as root, then the
# image $PROG (by default /mnt/work/img) with ARGS, prefixed by $AS (another
# user, as_nobody). Leaves out, err, status, and the listings before and after
# the run of everything but /mnt/work.
target_run() {
    local setup=$1
    shift
    in_mnt '
        set -e
        setup=$1
        shift
        snapshot() { find /mnt /tmp -path /mnt/work -prune -o -printf "%p %u %g %m %s %T@\n" | LC_ALL=C sort; }
        cd /mnt
        eval "$setup"
        snapshot >/mnt/work/before
        set +e
        '"${AS:+$AS }${EMULATOR:+$EMULATOR }${PROG:-/mnt/work/img}"' "$@" >/mnt/work/out 2>/mnt/work/err
        echo $? >/mnt/work/status
        snapshot >/mnt/work/after' target_run "$setup" "$@"
}

# refused SETUP TARGET REASON: the run with --target TARGET is refused for
# REASON, before "Uncompressing", with nothing changed.
refused() {
    target_run "$1" --target "$2"
    [ "$(cat status)" = 255 ]
    [ "$(cat out)" = "${VERIFIED%$'\n'}" ]
    [ "$(cat err)" = "Refusing target directory $2: $3" ]
    diff before after
}

# accepted SETUP TARGET: extraction into TARGET and the script's run there.
accepted() {
    target_run "$1" --target "$2"
    [ "$(cat status)" = 0 ]
    [ "$(cat out)" = "${VERIFIED}Uncompressing in $2..." ]
    [ ! -s err ]
    grep -q "^$2/ran root root 644 0 " after
}

@test "a target writable by others, though root's, with a planted *.install: refused" {
    refused "mkdir -m 0777 t && (cd t && $PLANT)" /mnt/t 'it is writable by others'
}

@test "another user's 0755 target: refused" {
    refused 'mkdir t && chown nobody:nogroup t' /mnt/t 'it is owned by uid 65534'
}

@test "root's target writable by group nogroup: refused; by group root: accepted" {
    refused 'mkdir -m 0775 t && chgrp nogroup t' /mnt/t 'it is writable by group 65534'
    accepted 'mkdir -m 0775 t' /mnt/t
}

@test "root's 0755 target in sticky world-writable /tmp: accepted, its files keep owner and mode" {
    accepted 'mkdir /tmp/t && echo x >/tmp/t/mine && chown nobody /tmp/t/mine && chmod 0600 /tmp/t/mine' /tmp/t
    grep -q '^/tmp/t root root 755 ' after
    grep -q '^/tmp/t/mine nobody root 600 2 ' after
}

@test "a symbolic link to nobody's or to root's directory, with or without a trailing slash: refused" {
    local setup='mkdir o r && chown nobody o && ln -s o lo && ln -s r lr'
    refused "$setup" /mnt/lo 'it is a symbolic link'
    refused "$setup" /mnt/lr/ 'it is a symbolic link'
}

@test "as nobody: a target its own group may write is accepted, one root's group may write is not" {
    local setup='mkdir -m 0775 t r && chown nobody:nogroup t && chown nobody:root r'
    AS=as_nobody refused "$setup" /mnt/r 'it is writable by group 0'
    AS=as_nobody target_run "$setup" --target /mnt/t
    [ "$(cat status)" = 0 ]
    [ ! -s err ]
    grep -q '^/mnt/t/ran nobody nogroup 644 0 ' after
}

@test "as nobody: root's target that nobody's own group may write is accepted" {
    AS=as_nobody target_run 'mkdir -m 0775 t && chgrp nogroup t' --target /mnt/t
    [ "$(cat status)" = 0 ]
    grep -q '^/mnt/t/ran nobody nogroup 644 0 ' after
}

# The race: nobody owns /mnt/race and, all the while, moves whatever is at
# /mnt/race/t aside and renames a directory of its own, holding a planted
# *.install, into its place, as root extracts into /mnt/race/t over and over
# (at most RACE_TRIES runs, for at most RACE_SECONDS seconds). Each run must
# refuse nobody's directory, find none, or use one of root's; nothing of
# root's may ever be in one of nobody's, and the planted file never runs.
RACE_TRIES=300
RACE_SECONDS=5

# attacker.pl, run by nobody in /mnt/race: /mnt/race/t is in turn missing for
# 5 ms (root makes its own) and one of nobody's for 2 ms, unless root's came
# first (though a rename may still replace root's while it is empty).
ATTACKER='
for (my $i = 0; ; $i++) {
    mkdir "a$i" or die "mkdir: $!";
    open(my $f, ">", "a$i/zz-planted.install") or die "open: $!";
    print $f ": >/mnt/pwned\n";
    close($f) or die "close: $!";
    rename "t", "g$i";
    select(undef, undef, undef, 0.005);
    rename "a$i", "t" unless -e "t";
    select(undef, undef, undef, 0.002);
}'

# race.sh TRIES SECONDS [EMULATOR], run as root in the namespace (in_mnt).
RACE='
set -e
mkdir /mnt/race
chown nobody:nogroup /mnt/race
cd /mnt/race
as_nobody perl /mnt/work/attacker.pl &
attacker=$!
tries=0 filled=0 refused=0 missing=0 cut=0 end=$((SECONDS + $2)) limit=$((SECONDS + 3 * $2))
set +e
# Longer, up to three times, until each side has won at least once.
while { [ "$tries" -lt "$1" ] && [ "$SECONDS" -lt "$end" ]; } ||
    { [ $((filled * refused)) = 0 ] && [ "$SECONDS" -lt "$limit" ]; }; do
    tries=$((tries + 1))
    $3 /mnt/work/img --target /mnt/race/t >/mnt/out 2>/mnt/err
    case $?:$(cat /mnt/err) in
    0:) filled=$((filled + 1)) ;;
    "255:Refusing target directory /mnt/race/t: it is owned by uid 65534") refused=$((refused + 1)) ;;
    "255:Cannot chdir to /mnt/race/t: No such file or directory") missing=$((missing + 1)) ;;
    # nobody replaced the empty directory of root after the check: tar, in the
    # removed directory, can create nothing.
    255:*"tar: Exiting with failure status due to previous errors
Close tar pipe error: tar exited with status 2") cut=$((cut + 1)) ;;
    *) cat /mnt/out /mnt/err >>/mnt/work/unexpected ;;
    esac
done
# as_nobody is a function: the background job is a subshell whose child is
# perl, and killing the subshell alone would leave perl running.
pkill -P "$attacker"
wait "$attacker"
echo "$tries $filled $refused $missing $cut" >/mnt/work/counts
# The owner of every directory that holds an entry of root, and of every
# directory the script ran in.
find /mnt/race -mindepth 2 -user root -printf "%h\n" | sort -u | xargs -r stat -c %U | sort -u >/mnt/work/holders
find /mnt/race -name ran -printf "%h\n" | xargs -r stat -c %U | sort -u >/mnt/work/ran_in
[ ! -e /mnt/pwned ] || echo planted file ran >>/mnt/work/unexpected
'

@test "a target swapped for another user's directory while root extracts: never filled, never run" {
    printf '%s\n' "$ATTACKER" >attacker.pl
    printf '%s\n' "$RACE" >race.sh
    in_mnt 'bash /mnt/work/race.sh "$@"' race "$RACE_TRIES" "$RACE_SECONDS" "$EMULATOR"
    read -r tries filled refused missing cut <counts
    echo "# $tries tries: $filled filled root's directory, $refused refused nobody's, $missing found none, $cut lost root's" >&3
    [ ! -e unexpected ] || { cat unexpected; false; }
    run -1 grep -vx root holders        # nothing of root's in nobody's
    run -1 grep -vx root ran_in         # the script ran only in root's
    [ "$refused" -gt 0 ]
    [ "$filled" -gt 0 ]   # both sides won sometimes
}

@test "the target renamed away and replaced by nobody's once the launcher holds it: root's is filled and run in" {
    # strace holds the launcher for 300 ms just after it opened the target;
    # nobody moves root's new directory aside and puts its own in its place.
    in_mnt '
        mkdir /mnt/race
        chown nobody:nogroup /mnt/race
        cd /mnt/race
        as_nobody sh -c "mkdir a && cd a && $1"
        strace -f -qq -o /dev/null -P /mnt/race/t -e trace=openat,open \
            -e inject=openat,open:delay_exit=300000 \
            $2 /mnt/work/img --target /mnt/race/t >/mnt/work/out 2>/mnt/work/err &
        as_nobody sh -c "until [ -e t ]; do :; done; sleep 0.1; mv t g && mv a t"
        wait $!
        echo $? >/mnt/work/status
        find /mnt -path /mnt/work -prune -o -printf "%p %u\n" | LC_ALL=C sort >/mnt/work/after' \
        swap "$PLANT" "$EMULATOR"
    [ "$(cat status)" = 0 ]
    [ "$(cat out)" = "${VERIFIED}Uncompressing in /mnt/race/t..." ]
    [ ! -s err ]
    [ "$(cat after)" = "/mnt root
/mnt/race nobody
/mnt/race/g root
/mnt/race/g/install.sh root
/mnt/race/g/ran root
/mnt/race/t nobody
/mnt/race/t/zz-planted.install nobody" ]
}
