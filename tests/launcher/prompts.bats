#!/usr/bin/env bats
# --confirm: the questions before extraction and before the script, and the
# answers they take.

load helpers

VERIFIED=$'Verifying archive integrity... Succeed.\n'

setup() {
    setup_image_test
    launch ./bare --create s.run p.tar
    KB=$((($(stat -c %s p.tar) + 1023) / 1024))
    ASK="About to extract $KB KB in s.run.dir ... Proceed? [y/n] "
    UNPACK=$'Uncompressing in s.run.dir...\n'
    RUN="OK to execute: install.sh ? [y/n] "
    SCRIPT=$'script ./install.sh in s.run.dir with 0 args\n'
}
teardown() { teardown_image_test; }

@test "y, Y and an empty line proceed with the extraction" {
    for answer in y Y ''; do
        rm -rf s.run.dir
        check_run "$VERIFIED$ASK$UNPACK" "" 0 -- launch ./s.run --confirm --noexec <<<"$answer"
        [ -f s.run.dir/install.sh ]
    done
}

@test "n and N decline: nothing is extracted and the run succeeds" {
    for answer in n N no; do
        check_run "$VERIFIED$ASK" "" 0 -- launch ./s.run --confirm <<<"$answer"
        [ ! -e s.run.dir ]
    done
}

@test "five unusable answers count as no; a sixth line is not read" {
    check_run "$VERIFIED$ASK$ASK$ASK$ASK$ASK" "" 0 -- launch ./s.run --confirm --noexec < <(printf 'x\nmaybe\n?\n1\nq\ny\n')
    [ ! -e s.run.dir ]
}

@test "a usable fifth answer still counts" {
    check_run "$VERIFIED$ASK$ASK$ASK$ASK$ASK$UNPACK" "" 0 -- launch ./s.run --confirm --noexec < <(printf 'x\nx\nx\nx\ny\n')
    [ -d s.run.dir ]
}

@test "at end of input the question is asked five times, then declined" {
    check_run "$VERIFIED$ASK$ASK$ASK$ASK$ASK" "" 0 -- launch ./s.run --confirm </dev/null
    [ ! -e s.run.dir ]
}

@test "only the first character counts and the rest of the line is dropped" {
    # "yes" proceeds; its "es" must not answer the script question.
    check_run "$VERIFIED$ASK$UNPACK$RUN" "" 0 -- launch ./s.run --confirm < <(printf 'yes\nnope\n')
    [ -f s.run.dir/install.sh ]
}

@test "a line starting with a blank is not an answer" {
    check_run "$VERIFIED$ASK$ASK" "" 0 -- launch ./s.run --confirm < <(printf ' y\nn\n')
    [ ! -e s.run.dir ]
}

@test "the script question shows the script's arguments; y runs the script" {
    check_run "$VERIFIED$ASK${UNPACK}OK to execute: install.sh -a b ? [y/n] "$'script ./install.sh in s.run.dir with 2 args\n[-a]\n[b]\n' "" 0 -- \
        launch ./s.run --confirm -- -a b < <(printf 'y\ny\n')
}

@test "the script question without arguments; an empty line runs the script" {
    SCRIPT_STATUS=5 check_run "$VERIFIED$ASK$UNPACK$RUN$SCRIPT" "" 5 -- launch ./s.run --confirm < <(printf '\n\n')
}

@test "n to the script question leaves the extracted files and does not run it" {
    check_run "$VERIFIED$ASK$UNPACK$RUN" "" 0 -- launch ./s.run --confirm < <(printf 'y\nn\n')
    [ "$(ls -A s.run.dir)" = install.sh ]
}

@test "end of input at the script question: five questions, no script" {
    check_run "$VERIFIED$ASK$UNPACK$RUN$RUN$RUN$RUN$RUN" "" 0 -- launch ./s.run --confirm < <(printf 'y\n')
    [ -f s.run.dir/install.sh ]
}

@test "--noexec asks no script question" {
    check_run "$VERIFIED$ASK$UNPACK" "" 0 -- launch ./s.run --confirm --noexec < <(printf 'y\ny\n')
}

@test "--confirm --list asks, then lists; declined it lists nothing" {
    check_run "$VERIFIED$ASK$(listing p.tar)"$'\n' "" 0 -- launch ./s.run --confirm --list <<<y
    check_run "$VERIFIED$ASK" "" 0 -- launch ./s.run --confirm --list <<<n
    [ ! -e s.run.dir ]
}

@test "--confirm --tar announces the command before asking" {
    check_run "${VERIFIED}Run: tar tf -"$'\n'"$ASK"$'./\n./install.sh\n' "" 0 -- launch ./s.run --confirm --tar tf <<<y
    [ ! -e s.run.dir ]
}

@test "--list before --confirm ends the scan: no question" {
    check_run "$VERIFIED$(listing p.tar)"$'\n' "" 0 -- launch ./s.run --list --confirm </dev/null
}

@test "the question shows the size field in kilobytes and the target" {
    patch_size s.run 31498240
    check_run "${VERIFIED}About to extract 30760 KB in /tmp/x ... Proceed? [y/n] " "" 0 -- \
        launch ./s.run --confirm --target /tmp/x <<<n
    patch_size s.run 31498241
    check_run "${VERIFIED}About to extract 30761 KB in s.run.dir ... Proceed? [y/n] " "" 0 -- \
        launch ./s.run --confirm <<<n
    patch_size s.run 0
    check_run "${VERIFIED}About to extract 0 KB in s.run.dir ... Proceed? [y/n] " "" 0 -- \
        launch ./s.run --confirm <<<N
}
