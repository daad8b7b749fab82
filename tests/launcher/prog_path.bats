#!/usr/bin/env bats
# How an installer finds its own file: by the path it was started with, or by
# its bare name through PATH.

load helpers

VERIFIED=$'Verifying archive integrity... Succeed.\n'

setup() {
    setup_image_test
    mkdir bin other empty run
    launch ./bare --create bin/setup.run p.tar
    : >nothing.tar
    launch ./bare --create other/setup.run nothing.tar
    KB=$((($(stat -c %s p.tar) + 1023) / 1024))
    cd run
}
teardown() { teardown_image_test; }

@test "a bare name found in the last PATH element" {
    info "$KB" setup.run.dir
    check_run "$INFO" "" 0 -- with_path "$WORK/empty:$WORK/bin" launch_as setup.run "$WORK/bin/setup.run" --info
}

@test "a bare name is found in a later PATH element and extracts into <name>.dir here" {
    check_run "${VERIFIED}Uncompressing in setup.run.dir..."$'\n' "" 0 -- \
        with_path "$WORK/empty:$WORK/bin:/usr/bin:/bin" launch_as setup.run "$WORK/bin/setup.run" --noexec
    [ "$(ls -A)" = setup.run.dir ]
    [ -f setup.run.dir/install.sh ]
}

# The search order shows where the file found is another than the one that
# runs: without /proc the launcher reads it, with /proc it refuses it.
@test "the first executable match in PATH is the file read" {
    skip_unless_proc_can_hide
    info 0 setup.run.dir
    check_run "$INFO" "" 0 -- with_path "$WORK/other:$WORK/bin" launch_unchecked setup.run "$WORK/bin/setup.run" --info
    info "$KB" setup.run.dir
    check_run "$INFO" "" 0 -- with_path "$WORK/bin:$WORK/other" launch_unchecked setup.run "$WORK/bin/setup.run" --info
}

@test "a name that finds another image than the one that runs: refused, nothing extracted" {
    check_run "" "Refusing to read $WORK/other/setup.run: it is not the running program"$'\n' 255 -- \
        with_path "$WORK/other:$WORK/bin" launch_as setup.run "$WORK/bin/setup.run" --noexec
    check_run "" "Refusing to read $WORK/bin/setup.run: it is not the running program"$'\n' 255 -- \
        launch_as "$WORK/bin/setup.run" "$WORK/other/setup.run" --check
    [ -z "$(ls -A)" ]
    # A symbolic link to the image that runs is that image.
    ln -s "$WORK/bin/setup.run" link.run
    check_run "$VERIFIED" "" 0 -- launch_as ./link.run "$WORK/bin/setup.run" --check
}

@test "a match without execute permission is passed over" {
    chmod 644 "$WORK/other/setup.run"
    info "$KB" setup.run.dir
    check_run "$INFO" "" 0 -- with_path "$WORK/other:$WORK/bin" launch_as setup.run "$WORK/bin/setup.run" --info
    check_run "" $'Cannot find setup.run executable\n' 255 -- \
        with_path "$WORK/empty:$WORK/other" launch_as setup.run "$WORK/bin/setup.run" --info
}

@test "an empty PATH element stands for the working directory" {
    skip_unless_proc_can_hide
    cp "$WORK/other/setup.run" .
    info 0 setup.run.dir
    check_run "$INFO" "" 0 -- with_path "$WORK/empty::$WORK/bin" launch_unchecked setup.run "$WORK/bin/setup.run" --info
    check_run "$INFO" "" 0 -- with_path "$WORK/empty:" launch_unchecked setup.run "$WORK/bin/setup.run" --info
    check_run "$INFO" "" 0 -- with_path "" launch_unchecked setup.run "$WORK/bin/setup.run" --info
    info "$KB" setup.run.dir
    check_run "$INFO" "" 0 -- with_path "$WORK/bin:" launch_unchecked setup.run "$WORK/bin/setup.run" --info
}

@test "a PATH element ending in a slash works" {
    info "$KB" setup.run.dir
    check_run "$INFO" "" 0 -- with_path "$WORK/bin/" launch_as setup.run "$WORK/bin/setup.run" --info
}

@test "without PATH a bare name cannot be looked up, even here" {
    cp "$WORK/bin/setup.run" .
    check_run "" $'Cannot find PATH env\n' 255 -- without_path launch_as setup.run "$WORK/bin/setup.run" --info
}

@test "a bare name in no PATH element" {
    check_run "" $'Cannot find setup.run executable\n' 255 -- \
        with_path "$WORK/empty:$WORK/other/x" launch_as setup.run "$WORK/bin/setup.run"
    [ -z "$(ls -A)" ]
}

@test "a path with a slash is used as given, without PATH" {
    info "$KB" setup.run.dir
    check_run "$INFO" "" 0 -- without_path launch ../bin/setup.run --info
    check_run "$INFO" "" 0 -- with_path "$WORK/other" launch "$WORK/bin/setup.run" --info
}

@test "a path to a file without execute permission" {
    cp "$WORK/bin/setup.run" x
    chmod 644 x
    # Neither the kernel nor the emulator starts such a file, so the program
    # started is an executable copy while argv[0] names x.
    check_run "" $'Cannot find ./x executable\n' 255 -- launch_as ./x "$WORK/bin/setup.run" --info
    check_run "" $'Cannot find ./missing executable\n' 255 -- launch_as ./missing "$WORK/bin/setup.run" --info
}

@test "a program path of 4095 characters fits, one more does not" {
    cp "$WORK/bin/setup.run" .
    local fits long
    # ././.../setup.run and .//./.../setup.run name the file here.
    fits=$(printf './%.0s' $(seq 2043))setup.run
    long=.//${fits:2}
    [ ${#fits} -eq 4095 ]
    [ ${#long} -eq 4096 ]
    info "$KB" setup.run.dir
    check_run "$INFO" "" 0 -- launch_as "$fits" ./setup.run --info
    check_run "" "Too long program name $long"$'\n' 255 -- launch_as "$long" ./setup.run --info
}
