#!/usr/bin/env bats
# What a person at a terminal sees while a large payload is verified and
# extracted, and what files and dumb terminals get instead.

load helpers

# One large image for every test: long enough for the digest pass and the
# extraction to pass the half second after which the first update is drawn,
# even on a fast machine; the emulated launcher is slower.
setup_file() {
    local mb=512
    [ -z "$EMULATOR" ] || mb=256
    export BIG_MB=$mb BIG=$BATS_FILE_TMPDIR/big.run
    cd "$BATS_FILE_TMPDIR" || return 1
    mkdir big
    printf 'exit 0\n' >big/install.sh
    truncate -s "$mb"M big/zero
    tar -C big -cf big.tar .
    rm -r big
    make_image "$BIG" big.tar
    rm big.tar
}

setup() { setup_image_test; }
teardown() {
    tmux -L "vorlan-progress-$$" kill-server 2>/dev/null || true
    teardown_image_test
}

# now_ms: a clock in milliseconds.
now_ms() {
    echo $(($(date +%s%N) / 1000000))
}

# on_terminal COMMAND: runs the launcher's COMMAND on a terminal: the raw
# bytes it writes there in ./raw (script records them), what a person reads
# at the end in ./screen (tmux is the terminal), its status in ./status.
on_terminal() {
    tmux -L "vorlan-progress-$$" new-session -d -x 100 -y 20 -c "$WORK" \
        "script -qec '$EMULATOR $1' raw; echo \$? >status; sleep 60" 3>&-
    wait_for 600 test -s status || true
    tmux -L "vorlan-progress-$$" capture-pane -p >screen
}

@test "a terminal sees progress during long work, then exactly the usual lines" {
    command -v tmux >/dev/null || skip "tmux is not installed"
    on_terminal "$BIG --noexec --target out"
    [ "$(cat status)" = 0 ]
    grep -aqP ' *\d+% \d+ MB/s\x08+' raw
    [ "$(cat screen)" = "Verifying archive integrity... Succeed.
Uncompressing in out..." ]
    [ "$(stat -c %s out/zero)" -eq $((BIG_MB * 1024 * 1024)) ]
}

@test "standard output to a file, TERM set: exactly the usual bytes, however long the work" {
    local start
    start=$(now_ms)
    TERM=xterm launch "$BIG" --check >out.txt
    # Long enough for a display, were one drawn into files.
    [ $(($(now_ms) - start)) -gt 600 ]
    printf 'Verifying archive integrity... Succeed.\n' | cmp - out.txt
}

@test "a terminal with TERM=dumb: no progress, exactly the usual bytes" {
    command -v script >/dev/null || skip "script is not installed"
    local start
    start=$(now_ms)
    # A terminal of unknown width, which would get the display otherwise.
    TERM=dumb script -qec "$EMULATOR $BIG --check" /dev/null </dev/null >raw
    [ $(($(now_ms) - start)) -gt 600 ]
    printf 'Verifying archive integrity... Succeed.\r\n' | cmp - raw
}

@test "a stream that does not decode: the progress is blanked before the message" {
    command -v tmux >/dev/null || skip "tmux is not installed"
    # Bytes that do not compress, so that the stored payload is as large.
    head -c 16M /dev/urandom >p/noise
    tar -C p -cf big.tar .
    rm p/noise
    { zstd -q -1 -c big.tar; printf 'garbage'; } >big.tar.zst
    rm big.tar
    make_image big.run big.tar.zst
    rm big.tar.zst
    # A tar that reads nothing for a second: the launcher waits on the full
    # pipe, and the display is due when it goes on, however fast the machine.
    mkdir wrap
    printf '#!/bin/sh\n[ "$1" != --version ] || exec %s --version\n{ sleep 1; cat; } | %s "$@"\n' \
        "$(command -v tar)" "$(command -v tar)" >wrap/tar
    chmod 755 wrap/tar
    PATH=$WORK/wrap:$PATH on_terminal "./big.run --noexec --target out"
    [ "$(cat status)" = 255 ]
    # Drawn while decoding, then spaces between backspaces, then the message.
    grep -aqzP '(?s)Uncompressing in out\.\.\.\r\n.*\d+% \d+ MB/s' raw
    grep -aqP '\x08+ +\x08+Decompression error \(zstd\): unexpected bytes after the end of the stream' raw
    [ "$(cat screen)" = "Verifying archive integrity... Succeed.
Uncompressing in out...
Decompression error (zstd): unexpected bytes after the end of the stream" ]
}
