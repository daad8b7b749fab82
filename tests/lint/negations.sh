#!/bin/sh
# negations.sh FILE...: fails on every line of the bats FILEs that starts
# with a bare "! command" and is not the last command of its test or
# function. Bats runs a test under errexit, which ignores a negated
# command: such a line fails nothing unless its status is the test's (or
# the function's) own. Use "run !", "run -1" or a negation helper instead.
#
# A command goes on over lines that end with "\", "|", "&&" or "||".
# Blank lines and comments between it and the closing "}" do not count.

[ $# -gt 0 ] || {
    echo "usage: negations.sh FILE..." >&2
    exit 2
}

exec awk '
function report() {
    printf "%s:%d: a bare \"!\" that is not the last command fails nothing: %s\n",
        pending_file, pending_line, pending_text
    found = 1
    pending_line = 0
}
FNR == 1 {
    if (pending_line) report()
    continues = 0
}
{
    line = $0
    if (continues) {
        continues = line ~ /(\\|\||&&)[ \t]*$/
        next
    }
    if (line ~ /^[ \t]*(#|$)/) next
    if (pending_line) {
        if (line !~ /^}/) report()
        pending_line = 0
    }
    if (line ~ /^[ \t]*![ \t]/) {
        pending_file = FILENAME
        pending_line = FNR
        pending_text = line
        sub(/^[ \t]+/, "", pending_text)
    }
    continues = line ~ /(\\|\||&&)[ \t]*$/
}
END {
    if (pending_line) report()
    exit found
}' "$@"
