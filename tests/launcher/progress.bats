#!/usr/bin/env bats
# What a person at a terminal sees while a large payload is verified and extracted.

load helpers

setup() { setup_image_test; }
teardown() {
    tmux -L "vorlan-progress-$$" kill-server 2>/dev/null || true
    teardown_image_test
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
    local session=vorlan-progress-$$
    # script records the raw bytes the launcher writes to its terminal; tmux
    # is that terminal and shows what a person would read at the end.
    tmux -L "$session" new-session -d -x 100 -y 20 -c "$WORK" \
        "script -qec '$EMULATOR ./big.run --noexec --target out' raw; echo \$? >status; sleep 60" 3>&-
    for _ in $(seq 600); do
        [ -s status ] && break
        sleep 0.1
    done
    tmux -L "$session" capture-pane -p >screen
    [ "$(cat status)" = 0 ]
    grep -aqP ' *\d+% \d+ MB/s\x08+' raw
    [ "$(cat screen)" = "Verifying archive integrity... Succeed.
Uncompressing in out..." ]
    [ "$(stat -c %s out/zero)" -eq $((mb * 1024 * 1024)) ]
}
