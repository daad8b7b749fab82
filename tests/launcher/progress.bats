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

@test "a terminal sees progress during long work, then exactly the usual lines" {
    command -v tmux >/dev/null || skip "tmux is not installed"
    local session=vorlan-progress-$$
    # script records the raw bytes the launcher writes to its terminal; tmux
    # is that terminal and shows what a person would read at the end.
    tmux -L "$session" new-session -d -x 100 -y 20 -c "$WORK" \
        "script -qec '$EMULATOR $BIG --noexec --target out' raw; echo \$? >status; sleep 60" 3>&-
    for _ in $(seq 600); do
        [ -s status ] && break
        sleep 0.1
    done
    tmux -L "$session" capture-pane -p >screen
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
