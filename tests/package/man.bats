#!/usr/bin/env bats
# The man pages render without a warning.

load ../helpers/common

@test "groff -ww finds nothing to warn about in either page" {
    local page
    for page in vorlan-mkinstaller vorlan-installer; do
        run groff -ww -z -man "$BUILD_DIR/man/$page.1"
        [ "$status" -eq 0 ]
        [ -z "$output" ]
    done
}

@test "man -l renders both pages with their names, without a warning" {
    local page
    for page in vorlan-mkinstaller vorlan-installer; do
        MANWIDTH=80 man --warnings -l "$BUILD_DIR/man/$page.1" >"$BATS_TEST_TMPDIR/out" 2>"$BATS_TEST_TMPDIR/err"
        [ ! -s "$BATS_TEST_TMPDIR/err" ]
        grep -Eq "^ *$page +- " "$BATS_TEST_TMPDIR/out"
    done
}
