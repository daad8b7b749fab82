#!/usr/bin/env bats
# An installer image: package information, integrity check, listing, custom
# tar commands and the hand-over to the embedded script.

load helpers

VERIFIED=$'Verifying archive integrity... Succeed.\n'
FAILED=$'Verifying archive integrity... Failed.\n'

setup() {
    setup_image_test
    launch ./bare --create s.run p.tar
    T=$(stat -c %s p.tar)
    KB=$(((T + 1023) / 1024))
}
teardown() { teardown_image_test; }

@test "--info prints four lines, checks nothing and extracts nothing" {
    info "$KB" s.run.dir
    check_run "$INFO" "" 0 -- launch ./s.run --info
    [ ! -e s.run.dir ]
}

@test "--info shows the size field in whole kilobytes, rounded up, past 4 GiB too" {
    for size in 0:0 1:1 1023:1 1024:1 1025:2 31498240:30760 31498241:30761 21474836480:20971520 21474836481:20971521; do
        patch_size s.run "${size%:*}"
        info "${size#*:}" s.run.dir
        check_run "$INFO" "" 0 -- launch ./s.run --info
    done
}

@test "--info succeeds on an image whose archive is corrupt" {
    printf X | dd of=s.run bs=1 seek=$((E + HEADER_SIZE + 600)) conv=notrunc status=none
    echo extra >>s.run
    info "$KB" s.run.dir
    check_run "$INFO" "" 0 -- launch ./s.run --info
    [ ! -e s.run.dir ]
}

@test "--target before --info is shown; --target after --info is not looked at" {
    info "$KB" /tmp/x
    check_run "$INFO" "" 0 -- launch ./s.run --target /tmp/x --info
    info "$KB" s.run.dir
    check_run "$INFO" "" 0 -- launch ./s.run --info --target /tmp/x
    info "$KB" b
    check_run "$INFO" "" 0 -- launch ./s.run --target a --target b --info
}

@test "--check --info prints the information without checking" {
    echo extra >>s.run
    info "$KB" s.run.dir
    check_run "$INFO" "" 0 -- launch ./s.run --check --info
}

@test "--check on an intact image succeeds and creates nothing" {
    check_run "$VERIFIED" "" 0 -- launch ./s.run --check
    [ "$(ls -A | tr '\n' ' ')" = "bare p p.tar s.run " ]
}

@test "a corrupted archive byte fails the check and nothing is extracted" {
    # The byte lies in install.sh's contents.
    printf X | dd of=s.run bs=1 seek=$((E + HEADER_SIZE + 1030)) conv=notrunc status=none
    check_run "$FAILED" "" 255 -- launch ./s.run --check
    check_run "$FAILED" "" 255 -- launch ./s.run
    [ ! -e s.run.dir ]
}

@test "a byte appended after the archive fails the check and nothing is extracted" {
    printf '\0' >>s.run
    check_run "$FAILED" "" 255 -- launch ./s.run
    check_run "$FAILED" "" 255 -- launch ./s.run --noexec --target t
    [ ! -e s.run.dir ]
    [ ! -e t ]
}

@test "a changed digest fails the check" {
    printf '\377' | dd of=s.run bs=1 seek=$((E + 8 + 15)) conv=notrunc status=none
    check_run "$FAILED" "" 255 -- launch ./s.run --list
}

@test "a changed size field does not fail the check" {
    patch_size s.run 1
    check_run "$VERIFIED" "" 0 -- launch ./s.run --check
}

@test "an image cut inside the size field or the digest" {
    for cut in 1 7; do
        head -c $((E + cut)) s.run >cut.run
        chmod 755 cut.run
        check_run "" $'Archive size read error\n' 255 -- launch ./cut.run
        check_run "" $'Archive size read error\n' 255 -- launch ./cut.run --info
    done
    for cut in 8 23; do
        head -c $((E + cut)) s.run >cut.run
        check_run "" $'Archive checksum read error\n' 255 -- launch ./cut.run
        check_run "" $'Archive checksum read error\n' 255 -- launch ./cut.run --check
    done
    [ ! -e cut.run.dir ]
}

@test "an image cut right after the header holds an empty archive" {
    head -c $((E + HEADER_SIZE)) s.run >cut.run
    chmod 755 cut.run
    check_run "$FAILED" "" 255 -- launch ./cut.run --check
}

@test "--list shows tar's verbose listing and creates nothing" {
    check_run "$VERIFIED$(listing p.tar)"$'\n' "" 0 -- launch ./s.run --list
    check_run "$VERIFIED$(listing p.tar)"$'\n' "" 0 -- launch ./s.run --list foo --bar
    [ "$(ls -A | tr '\n' ' ')" = "bare p p.tar s.run " ]
}

@test "--tar tvf announces its command, then lists" {
    check_run "${VERIFIED}Run: tar tvf -"$'\n'"$(listing p.tar)"$'\n' "" 0 -- launch ./s.run --tar tvf
    [ ! -e s.run.dir ]
}

@test "--tar xf ./install.sh extracts that member into the working directory" {
    mkdir here
    cd here
    check_run "${VERIFIED}Run: tar xf - ./install.sh"$'\n' "" 0 -- launch ../s.run --tar xf ./install.sh
    [ "$(ls -A)" = install.sh ]
    cmp install.sh ../p/install.sh
}

@test "the words after --tar's argument, options and -- included, belong to the command" {
    check_run "${VERIFIED}Run: tar tf - --wildcards ./in*"$'\n'$'./install.sh\n' "" 0 -- \
        launch ./s.run --tar tf --wildcards './in*'
    check_run "${VERIFIED}Run: tar tf - -- ./install.sh"$'\n'$'./install.sh\n' "" 0 -- \
        launch ./s.run --tar tf -- ./install.sh
}

@test "--noexec extracts into <program name>.dir and does not run the script" {
    check_run "${VERIFIED}Uncompressing in s.run.dir..."$'\n' "" 0 -- launch ./s.run --noexec
    [ "$(ls -A s.run.dir)" = install.sh ]
    cmp s.run.dir/install.sh p/install.sh
    [ "$(stat -c %a s.run.dir)" = 755 ]
}

@test "--noexec --target extracts into an existing directory and keeps its other files" {
    mkdir t
    echo keep >t/other
    check_run "${VERIFIED}Uncompressing in t..."$'\n' "" 0 -- launch ./s.run --target t --noexec
    [ "$(ls -A t | tr '\n' ' ')" = "install.sh other " ]
    [ "$(cat t/other)" = keep ]
    [ ! -e s.run.dir ]
}

@test "the script runs as ./install.sh in the target directory, its output after the launcher's" {
    check_run "${VERIFIED}Uncompressing in s.run.dir..."$'\nscript ./install.sh in s.run.dir with 0 args\n' "" 0 -- \
        launch ./s.run
}

@test "the words after -- reach the script intact, blanks and all" {
    check_run "${VERIFIED}Uncompressing in t..."$'\nscript ./install.sh in t with 4 args\n[a  b]\n[ c ]\n[]\n[--x]\n' "" 0 -- \
        launch ./s.run --target t -- 'a  b' ' c ' '' --x
    check_run "${VERIFIED}Uncompressing in t..."$'\nscript ./install.sh in t with 0 args\n' "" 0 -- \
        launch ./s.run --target t --
}

@test "a word before -- is moved behind it into the script's arguments" {
    check_run "${VERIFIED}Uncompressing in s.run.dir..."$'\nscript ./install.sh in s.run.dir with 2 args\n[foo]\n[bar]\n' "" 0 -- \
        launch ./s.run foo -- bar
}

@test "the script's exit status is the run's" {
    SCRIPT_STATUS=7 check_run "${VERIFIED}Uncompressing in s.run.dir..."$'\nscript ./install.sh in s.run.dir with 1 args\n[x]\n' "" 7 -- \
        launch ./s.run -- x
}

@test "a payload without install.sh: the shell reports it and its status is the run's" {
    mkdir q
    echo data >q/readme
    tar -C q -cf q.tar .
    launch ./bare --create q.run q.tar
    check_run "${VERIFIED}Uncompressing in q.run.dir..."$'\n' $'sh: 0: cannot open ./install.sh: No such file\n' 2 -- \
        launch ./q.run
    [ "$(ls -A q.run.dir)" = readme ]
}

@test "a word that is not an option is an unknown argument" {
    check_run "" $'Unknown argument foo\n' 255 -- launch ./s.run foo
    check_run "" $'Unknown argument foo\n' 255 -- launch ./s.run --confirm foo
    check_run "" $'Unknown argument foo\n' 255 -- launch ./s.run --noexec foo bar
    [ ! -e s.run.dir ]
}

@test "a word before --tar, --list or --info is not looked at" {
    check_run "${VERIFIED}Run: tar tf -"$'\n./\n./install.sh\n' "" 0 -- launch ./s.run foo --tar tf
    info "$KB" s.run.dir
    check_run "$INFO" "" 0 -- launch ./s.run foo --info
}

@test "ambiguous, unknown and incomplete options are refused" {
    check_run "" $'./s.run: option \'--c\' is ambiguous; possibilities: \'--check\' \'--confirm\'\n' 255 -- launch ./s.run --c
    check_run "" $'./s.run: option \'--ta\' is ambiguous; possibilities: \'--tar\' \'--target\'\n' 255 -- launch ./s.run --ta x
    check_run "" $'./s.run: unrecognized option \'--create\'\n' 255 -- launch ./s.run --create out.run p.tar
    check_run "" $'./s.run: option \'--tar\' requires an argument\n' 255 -- launch ./s.run --tar
    check_run "" $'./s.run: option \'--target\' requires an argument\n' 255 -- launch ./s.run --target
    check_run "" $'./s.run: invalid option -- \'x\'\n' 255 -- launch ./s.run -x
    [ "$(ls -A | tr '\n' ' ')" = "bare p p.tar s.run " ]
}

@test "abbreviations of unique options are accepted" {
    check_run "${VERIFIED}Uncompressing in t..."$'\n' "" 0 -- launch ./s.run --noex --targ t
    check_run "$VERIFIED" "" 0 -- launch ./s.run --che
}
