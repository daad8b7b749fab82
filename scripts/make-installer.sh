#!/bin/sh
# make-installer.sh LAUNCHER SRC_DIR OUTPUT
#
# Packs the contents of SRC_DIR into a payload tar and has the bare launcher
# LAUNCHER write the installer image OUTPUT from it
# ("LAUNCHER --create OUTPUT TARFILE").
#
# The tar depends on the contents only: names sorted and at top level
# without a "./" prefix, every time stamp fixed, owner and group 0, and modes
# set here: directories 0755, install.sh, defaults.sh, EULA and EULA-RU 0644
# (the launcher runs the script through the shell), other files 0755 when
# they are executable and 0644 when not.
#
# A 32-bit launcher that the kernel cannot run ("Exec format error") is run
# through qemu-i386 instead.

export LC_ALL=C
umask 022

# 2018-05-31 00:00:00 UTC, the release date.
MTIME=@1527724800
PLAIN_FILES="install.sh defaults.sh EULA EULA-RU"

LAUNCHER=
SRC_DIR=
OUTPUT=
WORK=

# ---------------------------------------------------------------- helpers

die() {
    echo "make-installer.sh: $*" >&2
    exit 1
}

cleanup() {
    if [ -n "$WORK" ]; then
        rm -rf "$WORK"
    fi
}

# create_image COMMAND...: runs the launcher's create mode through COMMAND
# (the launcher itself, or an emulator followed by the launcher), keeping
# its error output in $WORK/stderr.
create_image() {
    "$@" --create "$OUTPUT" "$WORK/payload.tar" 2>"$WORK/stderr"
}

# ------------------------------------------------------------------ steps

check_args() {
    if [ $# -ne 3 ] || [ -z "$1" ] || [ -z "$2" ] || [ -z "$3" ]; then
        echo "usage: make-installer.sh LAUNCHER SRC_DIR OUTPUT" >&2
        exit 2
    fi
    LAUNCHER=$1
    SRC_DIR=$2
    OUTPUT=$3
    [ -f "$LAUNCHER" ] || die "cannot find the launcher $LAUNCHER"
    [ -x "$LAUNCHER" ] || die "the launcher $LAUNCHER is not executable"
    [ -d "$SRC_DIR" ] || die "cannot find the directory $SRC_DIR"
    [ -d "$(dirname "$OUTPUT")" ] || die "cannot find the directory of $OUTPUT"
    case $LAUNCHER in
        */*) ;;
        *) LAUNCHER=./$LAUNCHER ;;
    esac
}

make_work_dir() {
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/make-installer.XXXXXX") ||
        die "cannot create a temporary directory"
    trap cleanup EXIT
    trap 'exit 1' HUP INT TERM
    mkdir "$WORK/stage" || die "cannot create $WORK/stage"
}

stage_files() {
    cp -R "$SRC_DIR/." "$WORK/stage/" || die "cannot copy $SRC_DIR"
    (cd "$WORK/stage" && set -- * && [ -e "$1" ]) || die "$SRC_DIR is empty"
    find "$WORK/stage" -type d -exec chmod 0755 {} + ||
        die "cannot set directory modes"
    find "$WORK/stage" -type f -perm -u+x -exec chmod 0755 {} + ||
        die "cannot set program modes"
    find "$WORK/stage" -type f ! -perm -u+x -exec chmod 0644 {} + ||
        die "cannot set data file modes"
    for file in $PLAIN_FILES; do
        if [ -f "$WORK/stage/$file" ]; then
            chmod 0644 "$WORK/stage/$file" || die "cannot set the mode of $file"
        fi
    done
}

write_tar() {
    (
        cd "$WORK/stage" || exit 1
        set -- *
        tar --format=ustar --sort=name --mtime="$MTIME" \
            --owner=0 --group=0 --numeric-owner -cf ../payload.tar -- "$@"
    ) || die "cannot write the payload tar"
}

run_launcher() {
    status=0
    create_image "$LAUNCHER" || status=$?
    if [ "$status" -eq 126 ] && grep -q 'Exec format error' "$WORK/stderr"; then
        command -v qemu-i386 >/dev/null 2>&1 ||
            die "this system cannot run $LAUNCHER and qemu-i386 is not installed"
        status=0
        create_image qemu-i386 "$LAUNCHER" || status=$?
    fi
    cat "$WORK/stderr" >&2
    [ "$status" -eq 0 ] || die "the launcher failed with status $status writing $OUTPUT"
}

check_output() {
    [ -f "$OUTPUT" ] || die "the launcher wrote no $OUTPUT"
}

# -------------------------------------------------------------- run order

check_args "$@"
make_work_dir
stage_files
write_tar
run_launcher
check_output
