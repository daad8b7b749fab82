#!/usr/bin/env bats
# What a person at a terminal sees while a large payload is verified and extracted.

load helpers

setup() { setup_image_test; }
teardown() {
    tmux -L "vorlan-progress-$$" kill-server 2>/dev/null || true
    teardown_image_test
}

# on_terminal COMMAND: runs the launcher's COMMAND on a terminal: the raw
# bytes it writes there in ./raw (script records them), what a person reads
# at the end in ./screen (tmux is the terminal), its status in ./status.
on_terminal() {
    tmux -L "vorlan-progress-$$" new-session -d -x 100 -y 20 -c "$WORK" \
        "script -qec '$EMULATOR $1' raw; echo \$? >status; sleep 60" 3>&-
    for _ in $(seq 600); do
        [ -s status ] && break
        sleep 0.1
    done
    tmux -L "vorlan-progress-$$" capture-pane -p >screen
}

@test "a terminal sees progress during long work, then exactly the usual lines" {
    command -v tmux >/dev/null || skip "tmux is not installed"
    # Long enough for the digest pass and the extraction to pass the half
    # second after which the first update is drawn, even on a fast machine;
    # the emulated launcher is slower.
    local mb=512
    [ -z "$EMULATOR" ] || mb=256
    truncate -s "$mb"M p/zero
    tar -C p -cf big.tar .
    rm p/zero
    make_image big.run big.tar
    rm big.tar
    on_terminal "./big.run --noexec --target out"
    [ "$(cat status)" = 0 ]
    grep -aqP ' *\d+% \d+ MB/s\x08+' raw
    [ "$(cat screen)" = "Verifying archive integrity... Succeed.
Uncompressing in out..." ]
    [ "$(stat -c %s out/zero)" -eq $((mb * 1024 * 1024)) ]
}

@test "a stream that does not decode: the progress is blanked before the message" {
    command -v tmux >/dev/null || skip "tmux is not installed"
    local mb=512
    [ -z "$EMULATOR" ] || mb=256
    # Bytes that do not compress, so that the stored payload is as large.
    head -c "${mb}M" /dev/urandom >p/noise
    tar -C p -cf big.tar .
    rm p/noise
    { zstd -q -1 -c big.tar && printf 'garbage'; } >big.tar.zst
    rm big.tar
    make_image big.run big.tar.zst
    rm big.tar.zst
    on_terminal "./big.run --noexec --target out"
    [ "$(cat status)" = 255 ]
    # Drawn while decoding, then spaces between backspaces, then the message.
    grep -aqzP '(?s)Uncompressing in out\.\.\.\r\n.*\d+% \d+ MB/s' raw
    grep -aqP '\x08+ +\x08+Decompression error \(zstd\): unexpected bytes after the end of the stream' raw
    [ "$(cat screen)" = "Verifying archive integrity... Succeed.
Uncompressing in out...
Decompression error (zstd): unexpected bytes after the end of the stream" ]
}
