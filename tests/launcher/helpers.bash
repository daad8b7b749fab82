# Shared by the end-to-end tests of the launcher. Each test file runs once per
# launcher: LAUNCHER names the binary, LAUNCHER_ARCH its architecture.

load ../helpers/common
load ../helpers/image

LAUNCHER_ARCH=${LAUNCHER_ARCH:-x86_64}
LAUNCHER=${LAUNCHER:-$BUILD_DIR/launcher/vorlan-launcher-$LAUNCHER_ARCH}

# This kernel may refuse i386 executables: then every run of a launcher or an
# image built from it goes through qemu-i386, named by its absolute path so
# that tests may run it with any PATH. The scripts' own rule decides.
EMULATOR=$(. "$SOURCE_DIR/scripts/lib.sh" && launcher_emulator "$LAUNCHER")

# launch PROGRAM [ARGS...]: runs a launcher or image the way a shell runs a
# path, with argv[0] as given.
launch() {
    if [ -n "$EMULATOR" ]; then
        "$EMULATOR" "$@"
    else
        "$@"
    fi
}

# launch_as ARGV0 FILE [ARGS...]: runs FILE with argv[0] set to ARGV0, as a
# shell does for a bare name found through PATH.
launch_as() {
    local argv0=$1 file=$2
    shift 2
    if [ -n "$EMULATOR" ]; then
        "$EMULATOR" -0 "$argv0" "$file" "$@"
    else
        (exec -a "$argv0" "$file" "$@")
    fi
}

# skip_unless_proc_can_hide: skips the test for the sanitized launcher, whose
# runtime reads /proc. Called first where PATH is changed around the run.
skip_unless_proc_can_hide() {
    case $LAUNCHER in
    *-asan) skip "the sanitizers' runtime needs /proc" ;;
    esac
}

# launch_unchecked ARGV0 FILE [ARGS...]: launch_as where /proc is hidden
# under an empty tmpfs (programs named by path: PATH is the test's), so that the launcher cannot tell which file runs and
# reads the one ARGV0 names, as it does on a machine without /proc.
# shellcheck disable=SC2016 # the script expands its own arguments
launch_unchecked() {
    skip_unless_proc_can_hide
    /usr/bin/unshare -m /bin/bash -c '/bin/mount -t tmpfs vorlan-no-proc /proc || exit 1
        if [ -n "$0" ]; then exec "$0" -0 "$1" "${@:2}"; fi
        exec -a "$1" "${@:2}"' "$EMULATOR" "$@"
}

# A fresh working directory per test, removed by bats.
setup_workdir() {
    WORK=$(mktemp -d "$BATS_TMPDIR/launcher.XXXXXX")
    cd "$WORK" || return 1
}

teardown_workdir() {
    cd / && rm -rf "$WORK"
}

# make_payload DIR SCRIPT_BODY: a tar of DIR holding install.sh with that body.
make_payload() {
    local dir=$1 body=$2
    mkdir -p "$dir"
    printf '%s\n' "$body" >"$dir/install.sh"
    tar -C "$dir" -cf "$dir.tar" .
}

# Builds NAME from the bare launcher and TAR.
make_image() {
    cp "$LAUNCHER" ./bare
    launch ./bare --create "$1" "$2"
}

# setup_workdir, plus CAPTURE, a directory outside it for what tests
# capture (check_run's output lands there too), a bare launcher ./bare and
# a payload p.tar whose install.sh prints its arguments and ends with the
# status in $SCRIPT_STATUS (0 by default).
setup_image_test() {
    umask 022
    setup_workdir || return 1
    CAPTURE=$BATS_TEST_TMPDIR
    cp "$LAUNCHER" ./bare
    E=$(stat -c %s ./bare)
    make_payload p 'echo "script $0 in ${PWD##*/} with $# args"
for a in "$@"; do echo "[$a]"; done
exit ${SCRIPT_STATUS:-0}'
}

teardown_image_test() {
    teardown_workdir
}

# info KB TARGET: sets INFO to what --info prints.
info() {
    printf -v INFO 'TAR size: %s KB \nTarget directory: %s \nScript to run after the extraction: ./install.sh\ndirectory %s is permanent\n' "$1" "$2" "$2"
}

# patch_size IMAGE N: overwrites the archive size field of IMAGE with N.
patch_size() {
    le64 "$2" | dd of="$1" bs=1 seek="$E" conv=notrunc status=none
}

# listing TAR: what "tar -tvf -" prints for TAR.
listing() {
    tar -tvf - <"$1"
}

# with_path VALUE COMMAND [ARGS...]: runs COMMAND with PATH set to VALUE.
with_path() {
    local PATH=$1
    shift
    "$@"
}

# without_path COMMAND [ARGS...]: runs COMMAND with PATH unset.
without_path() {
    (unset PATH && "$@")
}
