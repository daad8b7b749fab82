#!/bin/sh
# Usage: sh shellcheck.sh DIR. Runs shellcheck over every shell file below
# DIR, found by what it is wherever it lies: a name ending in .sh, or a
# first line "#!" that runs sh, dash, bash or ksh, directly or through env.
# A .sh file without a "#!" line is a fragment that a script reads with
# ".": it is checked as POSIX sh, and what it assigns is for that script
# (SC2034).
# Passed over: .git and build trees (directories holding a CMakeCache.txt),
# whose scripts are copies. Bats suites ("#!/usr/bin/env bats") and their
# .bash helpers are not shell files of this kind.
# Exit status: 0 when shellcheck finds nothing, 1 when it finds anything,
# 2 on a usage error or a tree without shell files. SHELLCHECK names the
# program (default shellcheck).

PROG=shellcheck.sh
SHELLCHECK=${SHELLCHECK:-shellcheck}

die() {
    printf '%s: %s\n' "$PROG" "$*" >&2
    exit 2
}

# shell_files: "script PATH" or "fragment PATH" a line, for every shell file
# below the current directory, PATH relative to it.
shell_files() {
    # shellcheck disable=SC2016 # an awk program
    find . \( -name .git -o -type d -exec test -e '{}/CMakeCache.txt' \; \) -prune \
        -o -type f -exec awk '
            FNR == 1 {
                path = substr(FILENAME, 3)
                if ($0 ~ /^#![ \t]*([^ \t]*\/)?(env[ \t]+)?(sh|dash|bash|ksh)([ \t]|$)/)
                    print "script " path
                else if (path ~ /\.sh$/)
                    print ($0 ~ /^#!/ ? "script " : "fragment ") path
                nextfile
            }' {} + | LC_ALL=C sort
}

# check KIND [OPTION...]: shellcheck over the files of that kind, with the
# options; nothing to do when there are none.
check() {
    kind=$1
    shift
    set -- "$@" --
    count=0
    while read -r file_kind path; do
        if [ "$file_kind" = "$kind" ]; then
            set -- "$@" "$path"
            count=$((count + 1))
        fi
    done <<EOF
$FILES
EOF
    [ "$count" -eq 0 ] || "$SHELLCHECK" -x "$@"
}

[ $# -eq 1 ] || { echo "usage: shellcheck.sh DIR" >&2; exit 2; }
cd "$1" || die "cannot enter $1"
FILES=$(shell_files) || die "cannot list the files below $1"
[ -n "$FILES" ] || die "no shell files below $1"
status=0
check script || status=1
check fragment --shell=sh --exclude=SC2034 || status=1
exit "$status"
