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
        PATH=$WORK/wrap:$PATH run -"${signal#*:}" launch ./q.run --target t
        [ "${lines[0]}" = "Verifying archive integrity... Succeed." ]
        [ "${lines[1]}" = "Uncompressing in t..." ]
        # tar complains about the cut archive first.
        [ "${lines[-1]}" = "Interrupted: the target directory t holds a partial extraction" ]
        [ "$(grep -c 'Interrupted' <<<"$output")" = 1 ]
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
    PATH=$WORK/wrap:$PATH run -143 launch ./q.run --target t
    [ "${lines[1]}" = "Uncompressing in t..." ]
    [ "${lines[-1]}" = "Interrupted: the target directory t holds a partial extraction" ]
    [ "$(stat -c %s t/data)" -lt 4000000 ]
    [ ! -e t/ran ]
}
