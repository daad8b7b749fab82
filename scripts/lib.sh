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
# leaves CLEANUP_FILE.XXXXXX, and its signature CLEANUP_FILE.sig; and
# PENDING_FILES, whole outputs written but not yet in place, one a line.
# While CLEANUP_JOB is set, the last background job ($!) writes it: that job
# is stopped (by TERM, since a background job ignores INT) and waited for
# first, so that it adds nothing afterwards.
remove_work_dir() {
    if [ -n "${CLEANUP_JOB:-}" ] && [ -n "$!" ]; then
        kill -TERM "$!" 2>/dev/null
        wait "$!"
    fi
    if [ -n "${CLEANUP_FILE:-}" ]; then
        rm -f "$CLEANUP_FILE" "$CLEANUP_FILE".?????? "$CLEANUP_FILE.sig"
    fi
    if [ -n "${PENDING_FILES:-}" ]; then
        printf '%s\n' "$PENDING_FILES" | while IFS= read -r pending; do rm -f "$pending"; done
    fi
    if [ -n "${WORK:-}" ]; then
        rm -rf "$WORK"
    fi
}

# The CPUs there are launchers for, by the kernel's name for each (uname -m,
# as Ansible's ansible_architecture reports it): ELF class, byte order and
# machine number, the qemu-user program that runs it elsewhere, and which
# machines run it.
LAUNCHER_CPUS='x86_64 2 1 62 qemu-x86_64 64-bit x86 Linux (amd64)
i386 1 1 3 qemu-i386 32-bit x86 Linux, and 64-bit x86 kernels with 32-bit support
aarch64 2 1 183 qemu-aarch64 64-bit ARM Linux (arm64)
armv7l 1 1 40 qemu-arm 32-bit ARM Linux with hard float (ARMv7, armhf)
ppc64le 2 1 21 qemu-ppc64le 64-bit little-endian POWER Linux (ppc64el)
s390x 2 2 22 qemu-s390x 64-bit IBM Z Linux (s390x)
riscv64 2 1 243 qemu-riscv64 64-bit RISC-V Linux (riscv64)'

# launcher_cpu FILE: the CPU of the ELF executable FILE, by its class, byte
# order and machine number (bytes 4, 5 and 18-19); fails for any other file.
launcher_cpu() {
    # shellcheck disable=SC2046 # one word per byte
    set -- $(od -An -tu1 -j 4 -N 16 "$1" 2>/dev/null)
    [ $# -eq 16 ] || return 1
    if [ "$2" = 2 ]; then lc_machine=$((${15} * 256 + ${16})); else lc_machine=$((${16} * 256 + ${15})); fi
    printf '%s\n' "$LAUNCHER_CPUS" | awk -v class="$1" -v order="$2" -v machine="$lc_machine" '
        $2 == class && $3 == order && $4 == machine { print $1; found = 1; exit }
        END { exit !found }'
}

# cpu_qemu CPU: the qemu-user program that runs that CPU's programs.
cpu_qemu() {
    printf '%s\n' "$LAUNCHER_CPUS" | awk -v cpu="$1" '$1 == cpu { print $5 }'
}

# cpu_machines CPU: the machines that run that CPU's launcher, in words.
cpu_machines() {
    printf '%s\n' "$LAUNCHER_CPUS" | awk -v cpu="$1" '$1 == cpu { for (i = 6; i <= NF; i++) printf "%s%s", $i, i < NF ? " " : "\n" }'
}

# launcher_emulator FILE: what has to run the launcher or installer image FILE
# on this machine. Prints nothing when the kernel runs it (the machine's own
# CPU, one it runs natively, as 32-bit x86 on most 64-bit x86 kernels, or a
# file of no CPU this toolkit knows, which is run as it is); otherwise the
# path of the qemu-user program for its CPU. Fails, with a message, when
# that emulator is not installed.
launcher_emulator() {
    le_cpu=$(launcher_cpu "$1") || return 0
    [ "$le_cpu" = "$(uname -m)" ] && return 0
    "$1" --version >/dev/null 2>&1 && return 0
    le_qemu=$(cpu_qemu "$le_cpu")
    command -v "$le_qemu" ||
        { printf '%s\n' "this machine cannot run the $le_cpu $1 and $le_qemu is not installed" >&2; return 1; }
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
