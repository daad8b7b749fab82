# shellcheck shell=bash
# Loaded by every suite, first: where the tree and the build are, and the
# assertions and helpers that the suites share. The last run of a command
# under test leaves its exit status in STATUS and, where they are kept, its
# standard output and error in the files RUN_OUT and RUN_ERR.

bats_require_minimum_version 1.5.0

SOURCE_DIR=${SOURCE_DIR:-$(cd "$BATS_TEST_DIRNAME/../.." && pwd)}
BUILD_DIR=${BUILD_DIR:-$SOURCE_DIR/build}
LAUNCHER_I386=${LAUNCHER_I386:-$BUILD_DIR/launcher/vorlan-launcher-i386}
LAUNCHER_X86_64=${LAUNCHER_X86_64:-$BUILD_DIR/launcher/vorlan-launcher-x86_64}
# The project's version, as the build gave it to the launchers and packages.
VORLAN_VERSION=${VORLAN_VERSION:-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD_DIR/CMakeCache.txt")}

# not COMMAND [ARGS...]: succeeds where COMMAND fails. A bare "! command"
# fails nothing unless it is the test's last command.
not() {
    if "$@"; then
        echo "# succeeded, expected to fail: $*"
        return 1
    fi
}

# expect_file FILE TEXT: FILE holds exactly the bytes of TEXT; otherwise
# the difference, with line ends ($) and control characters made visible.
expect_file() {
    printf '%s' "$2" >"$BATS_TEST_TMPDIR/expected"
    if cmp -s "$BATS_TEST_TMPDIR/expected" "$1"; then
        return 0
    fi
    echo "# $1 is not what was expected:"
    diff -u --label expected --label "$1" <(cat -vE "$BATS_TEST_TMPDIR/expected") <(cat -vE "$1")
    return 1
}

# expect_status N: the last run ended with status N; otherwise its status
# and what it wrote.
expect_status() {
    if [ "$STATUS" = "$1" ]; then
        return 0
    fi
    echo "# exit status $STATUS, expected $1"
    if [ -n "${RUN_OUT-}" ]; then
        cat "$RUN_OUT" "$RUN_ERR"
    fi
    return 1
}

# check_run STDOUT STDERR STATUS -- COMMAND [ARGS...]: runs COMMAND (a
# program or a function), standard input the caller's, and requires exactly
# those bytes on its standard output and error and that exit status.
check_run() {
    local want_out=$1 want_err=$2 want_status=$3 ok=0
    shift 3
    if [ "$1" = -- ]; then
        shift
    fi
    RUN_OUT=$BATS_TEST_TMPDIR/out RUN_ERR=$BATS_TEST_TMPDIR/err STATUS=0
    "$@" >"$RUN_OUT" 2>"$RUN_ERR" || STATUS=$?
    expect_file "$RUN_OUT" "$want_out" || ok=1
    expect_file "$RUN_ERR" "$want_err" || ok=1
    expect_status "$want_status" || ok=1
    if [ "$ok" != 0 ]; then
        echo "# for: $(printf '%s ' "$@" | cut -c 1-200)"
    fi
    return "$ok"
}

# as_nobody PROGRAM [ARGS...]: runs PROGRAM (not a function) as the user
# nobody, group nogroup and no other.
as_nobody() {
    setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"
}

# wait_for TENTHS COMMAND [ARGS...]: runs COMMAND every tenth of a second
# until it succeeds, TENTHS times at most; fails if it never does.
wait_for() {
    local tries=$1
    shift
    until "$@"; do
        tries=$((tries - 1))
        if [ "$tries" -le 0 ]; then
            return 1
        fi
        sleep 0.1
    done
}

# alive PID: the process exists and is not a zombie.
alive() {
    kill -0 "$1" 2>/dev/null || return 1
    case $(ps -o stat= -p "$1" 2>/dev/null) in
    Z*) return 1 ;;
    esac
    return 0
}

# Scripts that bash runs in a private namespace use them too.
export -f not as_nobody wait_for alive
