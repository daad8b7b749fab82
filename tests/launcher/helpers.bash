# Shared by the end-to-end tests of the launcher. Each test file runs once per
# launcher: LAUNCHER names the binary, LAUNCHER_ARCH its architecture.

SOURCE_DIR=${SOURCE_DIR:-$(cd "$BATS_TEST_DIRNAME/../.." && pwd)}
BUILD_DIR=${BUILD_DIR:-$SOURCE_DIR/build}
LAUNCHER_ARCH=${LAUNCHER_ARCH:-x86_64}
LAUNCHER=${LAUNCHER:-$BUILD_DIR/launcher/vorlan-launcher-$LAUNCHER_ARCH}
# The project's version, as the build gave it to the launchers.
VORLAN_VERSION=${VORLAN_VERSION:-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD_DIR/CMakeCache.txt")}

# The payload header behind the launcher's image: the tar's size, 8 bytes,
# and its MD5 digest, 16 bytes.
HEADER_SIZE=$((8 + 16))

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

# elf_end FILE: where the executable image of FILE ends (the bare launcher's size).
elf_end() {
    stat -c %s "$LAUNCHER"
}

# check_run STDOUT STDERR STATUS -- COMMAND [ARGS...]: runs COMMAND (a program
# or a function such as launch) and requires its standard output and standard
# error to be exactly the given bytes and its exit status to be STATUS.
# Standard input is the caller's. The output lands in $CAPTURE, outside $WORK.
check_run() {
    local want_out=$1 want_err=$2 want_status=$3 status=0 ok=0 cmd
    shift 3
    [ "$1" = -- ] && shift
    cmd="$*"
    [ ${#cmd} -le 200 ] || cmd="${cmd::200}..."
    "$@" >"$CAPTURE/out" 2>"$CAPTURE/err" || status=$?
    printf '%s' "$want_out" >"$CAPTURE/want_out"
    printf '%s' "$want_err" >"$CAPTURE/want_err"
    if ! cmp -s "$CAPTURE/want_out" "$CAPTURE/out"; then
        echo "# stdout differs for: $cmd"
        diff <(od -c "$CAPTURE/want_out") <(od -c "$CAPTURE/out") | head -40
        ok=1
    fi
    if ! cmp -s "$CAPTURE/want_err" "$CAPTURE/err"; then
        echo "# stderr differs for: $cmd"
        diff <(od -c "$CAPTURE/want_err") <(od -c "$CAPTURE/err") | head -40
        ok=1
    fi
    if [ "$status" -ne "$want_status" ]; then
        echo "# status $status, expected $want_status, for: $cmd"
        ok=1
    fi
    return $ok
}

# Captured output of the last check_run.
captured_out() { cat "$CAPTURE/out"; }

# setup_workdir, plus a capture directory for check_run, a bare launcher
# ./bare and a payload p.tar whose install.sh prints its arguments and ends
# with the status in $STATUS (0 by default).
setup_image_test() {
    umask 022
    setup_workdir || return 1
    CAPTURE=$(mktemp -d "$BATS_TMPDIR/capture.XXXXXX")
    cp "$LAUNCHER" ./bare
    E=$(stat -c %s ./bare)
    make_payload p 'echo "script $0 in ${PWD##*/} with $# args"
for a in "$@"; do echo "[$a]"; done
exit ${STATUS:-0}'
}

teardown_image_test() {
    rm -rf "$CAPTURE"
    teardown_workdir
}

# le64 N: the 8 bytes of N, little-endian.
le64() {
    local n=$1 i
    for i in 0 1 2 3 4 5 6 7; do
        printf "\\$(printf %03o $(( (n >> (8 * i)) & 255 )))"
    done
}

# bytes_at FILE OFFSET COUNT: COUNT bytes of FILE from OFFSET.
bytes_at() {
    tail -c +$(($2 + 1)) "$1" | head -c "$3"
}

# patch_size IMAGE N: overwrites the archive size field of IMAGE with N.
patch_size() {
    le64 "$2" | dd of="$1" bs=1 seek="$E" conv=notrunc status=none
}

# as_nobody COMMAND [ARGS...]: runs a program (not a function) as user nobody,
# through the emulator when the launcher needs it.
as_nobody() {
    setpriv --reuid=nobody --regid=nogroup --clear-groups -- $EMULATOR "$@"
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
