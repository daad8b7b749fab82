#!/usr/bin/env bats
# The lint of lists that fail nothing, on small bats files: what it reports,
# what it lets pass, and a file it cannot follow.

load ../helpers/common

LINT=$BATS_TEST_DIRNAME/negations.sh
AND='a list ending in "&&" that is not the last command fails nothing when its first part fails'
BANG='a bare "!" that is not the last command fails nothing'

# lint: the lint's run on a bats file holding the standard input, where
# "%test" stands for "@test" (which bats would take for a test of its own).
lint() {
    FILE=$BATS_TEST_TMPDIR/t.bats
    sed 's/^%test /@test /' >"$FILE"
    run sh "$LINT" "$FILE"
}

@test "\"&&\" and \"!\" lists before another command are reported by line" {
    lint <<'BATS'
%test "x" {
    [ -e a ] && [ -e b ]
    ! grep -q x y
    cd d && { true; }
    true
}
f() {
    [ -e a ] &&
        [ -e b ]
    true
}
BATS
    [ "$status" -eq 1 ]
    [ "$output" = "$FILE:2: $AND: [ -e a ] && [ -e b ]
$FILE:3: $BANG: ! grep -q x y
$FILE:4: $AND: cd d && { true; }
$FILE:8: $AND: [ -e a ] &&" ]
}

@test "a list that ends a group, an if or a loop inside a test is reported" {
    lint <<'BATS'
%test "x" {
    { [ -e a ] && [ -e b ]; }
    if true; then [ -e a ] && [ -e b ]; fi
    for x in 1; do [ -e a ] && break; done
    true
}
BATS
    [ "$status" -eq 1 ]
    [ "${lines[0]}" = "$FILE:2: $AND: { [ -e a ] && [ -e b ]; }" ]
    [ "${lines[1]}" = "$FILE:3: $AND: if true; then [ -e a ] && [ -e b ]; fi" ]
    [ "${lines[2]}" = "$FILE:4: $AND: for x in 1; do [ -e a ] && break; done" ]
    [ "${#lines[@]}" -eq 3 ]
}

@test "the last command of a test, a function or a subshell, and lists ending in \"||\", pass" {
    lint <<'BATS'
%test "x" {
    ( [ -e a ] && [ -e b ] )
    (
        cd d && ls
    )
    x=$(cd d && ls)
    [ -e a ] && [ -e b ] || false
    ! true || true
    if [ -e a ] && [ -e b ]; then
        while ! [ -e a ] && true; do :; done
    fi
    [[ -e a && -e b ]]
    (( 1 && 2 ))
    [ -e a ] && {
        true
    } || true
    if true; then ! true; fi
}
f() { [ -e a ] && [ -e b ]; }
g() {
    [ -e a ] && [ -e b ]

    # the end
}
BATS
    [ "$status" -eq 0 ]
    [ -z "$output" ]
}

@test "quotes, here-documents, comments and case patterns are not code" {
    lint <<'BATS'
%test "x" {
    run bash -c "
        [ -e a ] && [ -e b ]
        ! true
        true"
    echo '[ -e a ] && [ -e b ]
        ! true'
    cat <<EOF
[ -e a ] && [ -e b ]
! true
EOF
    cat <<-'EOF'
	! true
	EOF
    case $x in
    a) ;;
    b | "c)") true ;;
    esac
    echo $'\' && ' "$(echo ")")" ${x#\"} # && x
    true
}
BATS
    [ "$status" -eq 0 ]
    [ -z "$output" ]
}

@test "a file the lint cannot follow to its end fails it" {
    lint <<'BATS'
%test "x" {
    echo "unclosed
}
BATS
    [ "$status" -eq 1 ]
    [ "$output" = "$FILE: the lint cannot follow the shell syntax: the file ends inside DQUOTE opened at line 2" ]
}
