#!/bin/sh
# negations.sh FILE...: fails on every command list of the bats FILEs and
# their helpers that fails nothing when a part of it fails, unless it is the
# last command of its test, function or subshell: a bare "! command", and
# "a && b" (also "[ x ] && [ y ]"), whose first part may fail silently.
# Bats runs a test under errexit, which ignores both. Use "run !", "run -1"
# or the negation helper "not" instead of "!", one assertion a line instead
# of "&&", and "if" for a condition. Text inside quotes and here-documents
# (scripts for other shells) is not looked at; see negations.awk.

[ $# -gt 0 ] || {
    echo "usage: negations.sh FILE..." >&2
    exit 2
}

exec awk -f "$(dirname "$0")/negations.awk" "$@"
