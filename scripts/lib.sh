# shellcheck shell=sh
# Shared by the project's shell scripts, sourced with ".": POSIX sh, also
# loaded by bash (the bats helpers and the benchmark). It only defines
# functions; the caller sets PROG to its own name for messages. Installed
# with the toolkit: the shipped product's facts are in product/product.sh.

# die MESSAGE...: the message on standard error, prefixed by the program's
# name, and exit status 1.
die() {
    printf '%s: %s\n' "${PROG:-${0##*/}}" "$*" >&2
    exit 1
}

# make_work_dir NAME: a private directory in ${TMPDIR:-/tmp}, in WORK,
# removed on every exit, signals included.
make_work_dir() {
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX") ||
        die "cannot create a temporary directory in ${TMPDIR:-/tmp}"
    trap remove_work_dir EXIT
    trap 'exit 129' HUP
    trap 'exit 130' INT
    trap 'exit 143' TERM
}

# remove_work_dir: the exit trap of make_work_dir; also removes CLEANUP_FILE,
# a partial output that the caller names while it writes one, with the
# temporary files that a writer of it leaves beside it, as a killed launcher
# leaves CLEANUP_FILE.XXXXXX, and its signature CLEANUP_FILE.sig. While CLEANUP_JOB is set, the last background
# job ($!) writes it: that job is stopped (by TERM, since a background job
# ignores INT) and waited for first, so that it adds nothing afterwards.
remove_work_dir() {
    if [ -n "${CLEANUP_JOB:-}" ] && [ -n "$!" ]; then
        kill -TERM "$!" 2>/dev/null
        wait "$!"
    fi
    if [ -n "${CLEANUP_FILE:-}" ]; then
        rm -f "$CLEANUP_FILE" "$CLEANUP_FILE".?????? "$CLEANUP_FILE.sig"
    fi
    if [ -n "${WORK:-}" ]; then
        rm -rf "$WORK"
    fi
}

# launcher_emulator FILE: what has to run the launcher or installer image FILE
# on this machine. Prints nothing when the kernel runs it; prints the path of
# qemu-i386 for a 32-bit x86 executable that the kernel refuses (a 64-bit
# kernel built without 32-bit support). Fails, with a message, when FILE
# needs qemu-i386 and it is not installed.
launcher_emulator() {
    # ELF class 1 (32-bit) at offset 4, machine 3 (i386) at offset 18.
    case $(od -An -tx1 -j 4 -N 1 "$1" 2>/dev/null)$(od -An -tx1 -j 18 -N 1 "$1" 2>/dev/null) in
    " 01 03") ;;
    *) return 0 ;;
    esac
    "$1" --version >/dev/null 2>&1 && return 0
    command -v qemu-i386 ||
        { printf '%s\n' "this kernel cannot run the 32-bit $1 and qemu-i386 is not installed" >&2; return 1; }
}

# run_launcher FILE [ARGS...]: runs FILE with ARGS through launcher_emulator.
run_launcher() {
    rl_emulator=$(launcher_emulator "$1") || return 1
    if [ -n "$rl_emulator" ]; then
        "$rl_emulator" "$@"
    else
        "$@"
    fi
}
