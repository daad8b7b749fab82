#!/usr/bin/env bats
# The shellcheck lint finds a tree's shell files by what they are: in a
# scratch copy of this tree (1 MB, no build trees), broken files planted
# where no list of paths looks fail it, and nothing else does.

load ../helpers/common

# broken FIRST_LINE: a shell file that shellcheck refuses (SC2045), with
# FIRST_LINE as its first line.
broken() {
    # shellcheck disable=SC2016 # the text of the broken file
    printf '%s\nfor f in $(ls); do echo $f; done\n' "$1"
}

@test "broken shell files anywhere in a copy of the tree fail the lint; a build tree's do not" {
    local tree=$BATS_TEST_TMPDIR/tree
    local vlproxy=product/vorlan-cresta-proxy/tree/opt/vorlansoft/cresta-proxy/bin/vlproxy
    mkdir "$tree"
    tar -C "$SOURCE_DIR" --exclude-vcs --exclude-tag-all=CMakeCache.txt -cf - . | tar -C "$tree" -xf -
    # A script the lint's old list of paths missed, a new one with no
    # extension in a new directory, a fragment without "#!".
    [ -f "$tree/$vlproxy" ]
    broken '#!/bin/sh' >"$tree/$vlproxy"
    mkdir -p "$tree/new/deep/dir"
    broken '#!/usr/bin/env bash' >"$tree/new/deep/dir/tool"
    broken '# read with "."' >"$tree/payload/fragment.sh"
    mkdir -p "$tree/other-build/bin"
    touch "$tree/other-build/CMakeCache.txt"
    broken '#!/bin/sh' >"$tree/other-build/bin/tool"
    run -1 sh "$SOURCE_DIR/tests/lint/shellcheck.sh" "$tree"
    [ "$(printf '%s\n' "$output" | sed -n 's/^In \(.*\) line [0-9]*:$/\1/p' | LC_ALL=C sort -u)" = "new/deep/dir/tool
payload/fragment.sh
$vlproxy" ]
}
