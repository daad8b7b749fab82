#!/usr/bin/env bats
# SIGINT, SIGTERM and SIGHUP: while --create writes an image, while the
# payload is verified on a terminal, and while tar extracts. Signals come at
# fixed points: strace raises them at a system call, or a tar wrapper sends
# them once tar has read part of the payload.

load helpers

setup() { setup_image_test; }
teardown() {
    tmux -L "vorlan-interrupt-$$" kill-server 2>/dev/null || true
    teardown_image_test
}

# The signals and the status a process they end exits with.
SIGNALS=(INT:130 TERM:143 HUP:129)

# create_signalled SIGNAL: --create of out.run, with SIGNAL raised as the
# finished image is synced, before its rename. The launcher's output and
# status land in $CAPTURE; the shell's own word on the signal goes nowhere.
create_signalled() {
    bash -c 'strace -qq -o /dev/null -e trace=fsync -e "inject=fsync:signal=$1:when=1" \
        $2 ./bare --create out.run p.tar >"$3/out" 2>"$3/err"
        echo $? >"$3/status"' - "$1" "$EMULATOR" "$CAPTURE" 2>/dev/null
}

@test "an interrupt during --create removes the temporary image; the old installer stays" {
    command -v strace >/dev/null || skip "strace is not installed"
    local signal
    for signal in "${SIGNALS[@]}"; do
        echo old >out.run
        create_signalled "${signal%:*}"
        [ "$(cat "$CAPTURE/status")" = "${signal#*:}" ]
        [ ! -s "$CAPTURE/out" ]
        [ ! -s "$CAPTURE/err" ]
        [ "$(cat out.run)" = old ]
        [ "$(ls -A | tr '\n' ' ')" = "bare out.run p p.tar " ]
    done
}

@test "an interrupt ignored when the launcher starts stays ignored, as under nohup" {
    command -v strace >/dev/null || skip "strace is not installed"
    check_run "" "" 0 -- env --ignore-signal=HUP strace -qq -o /dev/null -e trace=fsync \
        -e inject=fsync:signal=HUP:when=1 $EMULATOR ./bare --create out.run p.tar
    cmp p.tar <(tail -c +$((E + HEADER_SIZE + 1)) out.run)
}

# parent_sees SIGNAL IMAGE [ARGS...]: IMAGE run by a perl parent, its
# output in out and err; SIGNAL ("-" for none) sent to it once out shows
# that the verification has begun. Prints how it ended as its parent's wait
# status tells: "signal N" when the signal ended it, "exit N" otherwise, so
# that a shell loop that tests for a killed child stops.
parent_sees() {
    perl -e '
        my ($signal, @argv) = @ARGV;
        my $pid = fork // die "fork: $!";
        if ($pid == 0) {
            open(STDOUT, ">", "out") && open(STDERR, ">", "err") or die "open: $!";
            exec { $argv[0] } @argv or die "exec: $!";
        }
        if ($signal ne "-") {
            for (1 .. 200) { last if -s "out"; select(undef, undef, undef, 0.05); }
            kill $signal, $pid;
        }
        waitpid($pid, 0);
        print $? & 127 ? "signal " . ($? & 127) : "exit " . ($? >> 8), "\n";' "$1" ${EMULATOR:+"$EMULATOR"} "${@:2}"
}

@test "an interrupt during the verification: the process dies of the signal, nothing said, no target" {
    # An image of 4 GiB of holes: read for seconds, and never verified.
    cp bare v.run
    head -c "$HEADER_SIZE" /dev/zero >>v.run
    truncate -s +4G v.run
    local signal
    for signal in "${SIGNALS[@]}"; do
        [ "$(parent_sees "${signal%:*}" ./v.run --target t)" = "signal $((${signal#*:} - 128))" ]
        [ "$(cat out)" = "Verifying archive integrity... " ]
        [ ! -s err ]
        [ ! -e t ]
    done
}

# progress_drawn SESSION: the tmux SESSION shows a share done.
progress_drawn() {
    tmux -L "$1" capture-pane -p | grep -q '% '
}

@test "Ctrl-C during the verification on a terminal: the progress display is erased, status 130" {
    command -v tmux >/dev/null || skip "tmux is not installed"
    # An image of 4 GiB of holes: read for seconds, and never verified.
    cp bare v.run
    head -c "$HEADER_SIZE" /dev/zero >>v.run
    truncate -s +4G v.run
    local session=vorlan-interrupt-$$
    # The shell's own trap keeps it alive to write the status; the launcher
    # starts with SIGINT at its default.
    tmux -L "$session" new-session -d -x 100 -y 20 -c "$WORK" \
        "sh -c 'trap : INT; $EMULATOR ./v.run --check; echo \$? >status; sleep 60'" 3>&-
    wait_for 100 progress_drawn "$session" || true
    tmux -L "$session" send-keys C-c
    wait_for 100 test -s status || true
    [ "$(cat status)" = 130 ]
    tmux -L "$session" capture-pane -p >screen
    # The terminal echoes ^C where the display began.
    [ "$(head -n 1 screen)" = "Verifying archive integrity... ^C" ]
    run grep -c '%' screen
    [ "$output" = 0 ]
}

# interrupting_tar SIGNAL: a tar first in PATH that sends SIGNAL to the
# launcher once 100,000 bytes of the payload have passed, then goes on
# extracting what it gets, with the real tar.
interrupting_tar() {
    mkdir -p wrap
    cat >wrap/tar <<EOF
#!/bin/sh
[ "\$1" != --version ] || exec $(command -v tar) --version
# popen's shell is the parent, the launcher the grandparent.
read -r _ _ _ launcher _ </proc/\$PPID/stat
{ head -c 100000; kill -$1 "\$launcher"; cat; } | $(command -v tar) "\$@"
EOF
    chmod 755 wrap/tar
}

@test "an interrupt during the extraction: tar ends on its input's end, one line, 128+N, no script" {
    mkdir q
    printf 'echo ran >ran\n' >q/install.sh
    head -c 8000000 /dev/urandom >q/data
    tar -C q -cf q.tar install.sh data
    make_image q.run q.tar
    local signal
    for signal in "${SIGNALS[@]}"; do
        interrupting_tar "${signal%:*}"
        rm -rf t
        [ "$(PATH=$WORK/wrap:$PATH parent_sees - ./q.run --target t)" = "signal $((${signal#*:} - 128))" ]
        [ "$(cat out)" = $'Verifying archive integrity... Succeed.\nUncompressing in t...' ]
        # tar, by its path, may complain of the cut archive; nothing else does.
        [ "$(grep -v '^[^ ]*tar: ' err)" = "Interrupted: the target directory t holds a partial extraction" ]
        # Fed no further than the pipe holds, then waited for.
        [ "$(stat -c %s t/data)" -lt 4000000 ]
        [ ! -e t/ran ]
    done
}

@test "an interrupt while a zstd payload is decoded into tar: the same line, 128+N, no script" {
    mkdir q
    printf 'echo ran >ran\n' >q/install.sh
    head -c 8000000 /dev/urandom >q/data
    tar -C q -cf q.tar install.sh data
    zstd -q -1 q.tar
    make_image q.run q.tar.zst
    interrupting_tar TERM
    [ "$(PATH=$WORK/wrap:$PATH parent_sees - ./q.run --target t)" = "signal 15" ]
    [ "$(cat out)" = $'Verifying archive integrity... Succeed.\nUncompressing in t...' ]
    [ "$(grep -v '^[^ ]*tar: ' err)" = "Interrupted: the target directory t holds a partial extraction" ]
    [ "$(stat -c %s t/data)" -lt 4000000 ]
    [ ! -e t/ran ]
}
