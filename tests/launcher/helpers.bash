# Shared by the end-to-end tests of the launcher. Each test file runs once per
# launcher: LAUNCHER names the binary, LAUNCHER_ARCH its architecture.

SOURCE_DIR=${SOURCE_DIR:-$(cd "$BATS_TEST_DIRNAME/../.." && pwd)}
BUILD_DIR=${BUILD_DIR:-$SOURCE_DIR/build}
LAUNCHER_ARCH=${LAUNCHER_ARCH:-x86_64}
LAUNCHER=${LAUNCHER:-$BUILD_DIR/launcher/vorlan-launcher-$LAUNCHER_ARCH}

# This kernel may refuse i386 executables ("Exec format error", status 126):
# then every run of a launcher or an image built from it goes through qemu-i386.
if "$LAUNCHER" --version >/dev/null 2>&1; then
    EMULATOR=
else
    EMULATOR=qemu-i386
fi

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
