#!/usr/bin/env bats
# Help and version texts of an installer image, and what happens when
# standard output cannot be written.

load helpers

VERIFIED=$'Verifying archive integrity... Succeed.\n'
FULL=$'Write error on standard output: No space left on device\n'

setup() {
    setup_image_test
    launch ./bare --create setup.run p.tar
    HELP=$(cat <<'TEXT'
1. Get help or info about setup.run:
 --help     show this help on switches
 --info     show extended information on the package:
            title, default target directory, embedded script, etc.
 --list     show the list of files in the installation package
 --check    check integrity of the installation package

2. Run setup.run:
 setup.run [options] [--] [additional arguments to embedded script]
 with the following options (in this order)
 --confirm    ask before running embedded script
 --noexec     do not run embedded script
 --target <directory>    extract the installation package to the <directory>
 --tar <arg1> [<arg2> ...]    access the package content via the tar command
 --    the following arguments will be passed to the embedded script
TEXT
)$'\n'
}
teardown() { teardown_image_test; }

# to_full COMMAND [ARGS...]: runs COMMAND with standard output on /dev/full.
to_full() {
    "$@" >/dev/full
}

@test "--help prints fifteen lines with the program name" {
    [ "$(printf '%s' "$HELP" | wc -l)" -eq 15 ]
    check_run "$HELP" "" 0 -- launch ./setup.run --help
    [ "$(ls -A | tr '\n' ' ')" = "bare p p.tar setup.run " ]
}

@test "-h, --he and --help after other options print the help" {
    check_run "$HELP" "" 0 -- launch ./setup.run -h
    check_run "$HELP" "" 0 -- launch ./setup.run --he
    check_run "$HELP" "" 0 -- launch ./setup.run --confirm --target t --help
    check_run "$HELP" "" 0 -- launch ./setup.run --noexec -h -- a
    [ ! -e t ]
    [ ! -e setup.run.dir ]
}

@test "the help names the program by the last component of its path" {
    mkdir -p sub/dir
    mv setup.run sub/dir/
    check_run "$HELP" "" 0 -- launch ./sub/dir/setup.run --help
    check_run "$HELP" "" 0 -- launch "$WORK/sub/dir/setup.run" --help
}

@test "--help after --info, --list or --tar is not looked at" {
    check_run "$VERIFIED$(listing p.tar)"$'\n' "" 0 -- launch ./setup.run --list --help
}

@test "--version prints the name and version" {
    check_run "Vorlan Installer $VORLAN_VERSION"$'\n' "" 0 -- launch ./setup.run --version
    check_run "Vorlan Installer $VORLAN_VERSION"$'\n' "" 0 -- launch ./setup.run --vers
    check_run "Vorlan Installer $VORLAN_VERSION"$'\n' "" 0 -- launch ./setup.run --check --version
}

@test "help, version and usage that cannot be written fail the run" {
    check_run "" "$FULL" 255 -- to_full launch ./setup.run --help
    check_run "" "$FULL" 255 -- to_full launch ./setup.run -h
    check_run "" "$FULL" 255 -- to_full launch ./setup.run --version
    check_run "" "$FULL" 255 -- to_full launch ./bare --help
    check_run "" "$FULL" 255 -- to_full launch ./bare --version
    check_run "" "$FULL" 255 -- to_full launch ./bare --create out.run
    [ ! -e out.run ]
}

@test "package information and the verdict that cannot be written fail the run" {
    check_run "" "$FULL" 255 -- to_full launch ./setup.run --info
    check_run "" "$FULL" 255 -- to_full launch ./setup.run --check
}

@test "a listing that cannot be written fails the run with tar's and the launcher's reports" {
    local complaint status=0
    complaint=$(tar -tvf - <p.tar 2>&1 >/dev/full) || status=$?
    check_run "" "$complaint"$'\n'"Close tar pipe error: tar exited with status $status"$'\n'"$FULL" 255 -- to_full \
        launch ./setup.run --list
}

@test "a failed build still fails, not the report of it" {
    check_run "" $'Cannot open missing.tar: No such file or directory\n' 255 -- to_full launch ./bare --create out.run missing.tar
}
