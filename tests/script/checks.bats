#!/usr/bin/env bats
# Start of the installation script: command line, help, defaults, preset
# answers and the checks before the agreement.

# Shell code for the namespace is single-quoted so that it expands there
# (SC2016); settings such as STATUS are read by helpers.bash (SC2034).
# shellcheck disable=SC2016,SC2034

load helpers

help_text() {
    printf '%s Additional arguments:\n' "$1"
    printf '\t--help\t%s show this help on additional arguments.\n' "$ENDASH"
    printf '\t--quiet\t%s run the installer in the background mode.\n' "$ENDASH"
    printf '\t--clean\t- install the Server with default settings not using backup ones.\n'
    printf '\t--preseed <path>\t- use configuration file with preset answers for installer.\n'
    printf '\nFor more information, see the Appendices to Administrator Manual.\n'
}

@test "help text: exact bytes, status 0, also after other options" {
    help_text ./install.sh > "$BATS_TEST_TMPDIR/help"
    [ "$(wc -l < "$BATS_TEST_TMPDIR/help")" -eq 7 ]
    for args in "--help" "--quiet --help" "--clean --quiet --help" "--help --bogus"; do
        # shellcheck disable=SC2086 # the options are split on purpose
        run_install $args
        expect_status 0
        cmp "$BATS_TEST_TMPDIR/help" out
        [ ! -s err ]
    done
}

@test "help text: line 1 names the script path as invoked" {
    mkdir sub
    mv install.sh defaults.sh EULA EULA-RU sub/
    cat > "$BATS_TEST_TMPDIR/run.sh" <<'SH'
cd "$1" && $SCRIPT_SHELL sub/install.sh --help
SH
    # shellcheck disable=SC2086
    SCRIPT_SHELL=$SCRIPT_SHELL bash "$BATS_TEST_TMPDIR/run.sh" "$W" > out
    help_text sub/install.sh | cmp - out
}

@test "unknown keys are refused with status 1, before a later --help" {
    run_install --bogus --help;            expect_refused 'Unknown key "--bogus"'
    run_install x;                         expect_refused 'Unknown key "x"'
    run_install --quiet --preseed=/etc/hosts; expect_refused 'Unknown key "--preseed=/etc/hosts"'
    run_install -q;                        expect_refused 'Unknown key "-q"'
    run_install --QUIET;                   expect_refused 'Unknown key "--QUIET"'
    run_install 'a\nb';                    expect_refused 'Unknown key "a\nb"'
}

@test "--preseed path checks" {
    run_install --preseed;                 expect_refused 'Specify absolute path to configuration file'
    run_install --preseed '';              expect_refused 'Specify absolute path to configuration file'
    run_install --preseed answers.conf;    expect_refused 'Specify absolute path to configuration file instead "answers.conf"'
    run_install --preseed /no/such/file;   expect_refused 'Cannot find configuration file in "/no/such/file"'
    run_install --preseed /tmp;            expect_refused 'Cannot find configuration file in "/tmp"'
    run_install --preseed /dev/null;       expect_refused 'Cannot find configuration file in "/dev/null"'
    # Refused before --help is reached.
    run_install --preseed rel --help;      expect_refused 'Specify absolute path to configuration file instead "rel"'
}

@test "preset answers: QUIET_INSTALL=0 acts like --quiet, PKF changes nothing" {
    make_proxy_package 0
    printf 'QUIET_INSTALL=0\nPKF="X"\n' > preseed.conf
    run_install --preseed "$W/preseed.conf"
    expect_file "$W/out" "$EULA_TEXT
${CERT_PROMPT}$PROXY_INSTALLED"
    expect_status 0
}

@test "preset answers: a later --preseed replaces an earlier one" {
    printf 'QUIET_INSTALL=0\n' > quiet.conf
    printf 'BUILD_PLATFORM=plan9\n' > plan9.conf
    run_install --preseed "$W/quiet.conf" --preseed "$W/plan9.conf"
    expect_refused 'Package target platform and running platform differ. Installation aborted.'
}

@test "flavour code: bad PKF refused even with --help, P accepted" {
    set_default PKF X
    run_install --help;  expect_refused 'Unknown PKF="X"'
    set_default PKF c
    run_install;         expect_refused 'Unknown PKF="c"'
    set_default PKF P
    run_install --help;  expect_status 0
    run_install;         expect_checks_passed
}

@test "defaults.sh has exactly the six lines of this payload" {
    printf '%s\n' 'SERVER_PACKAGE="no"' 'PKF="C"' 'BUILD_ARCH="amd64"' 'UNIX_PACK_FMT="tar.gz"' \
        'BUILD_PLATFORM="linux"' 'MAKESELF_DIR="vorlan-cresta-proxy-1100-201805310-linux-x86_64.tar.gz.dir"' |
        cmp - "$SOURCE_DIR/payload/defaults.sh"
}

@test "this payload passes every check as root on this machine" {
    run_install
    expect_checks_passed
}

@test "the script stays in its directory when another takes its name before it enters it" {
    # The stand-in dirname plays a user who, at that moment, moves the
    # script's directory aside and puts one with a defaults.sh of theirs at
    # its name; the shell knows the directory by that name.
    pre_ns "mkdir /tmp/own /tmp/other && cp install.sh defaults.sh EULA EULA-RU /tmp/own/
        printf ': >%s/other-ran; exit 7\\n' '$W' >/tmp/other/defaults.sh"
    stub dirname 'if [ -d /tmp/other ]; then mv /tmp/own /tmp/moved && mv /tmp/other /tmp/own; fi
exec /usr/bin/dirname "$@"'
    RUN_AS="env -C /tmp/own" run_install
    expect_checks_passed
    [ ! -e other-ran ]
}

@test "non-root user is refused with the four lines" {
    RUN_AS="setpriv --reuid=nobody --regid=nogroup --clear-groups" run_install
    expect_file "$W/out" '
You must have superuser privileges to run the install.sh script.
Please run "vorlan-cresta-proxy-1100-201805310-linux-x86_64.tar.gz.dir/install.sh" as root.

'
    expect_status 1
    RUN_AS="runuser -u nobody --" run_install --quiet
    expect_status 1
    grep -qx 'You must have superuser privileges to run the install.sh script.' out
    set_default MAKESELF_DIR other.dir
    RUN_AS="runuser -u nobody --" run_install
    grep -qx 'Please run "other.dir/install.sh" as root.' out
}

@test "id output: the last uid= decides" {
    # Stand-in id: simulates the output of other machines and users.
    stub id 'echo "uid=1000(user) gid=1000(user) euid=0(root) groups=1000(user)"'
    run_install; expect_checks_passed
    stub id 'echo "uid=0(root) gid=0(root)"'
    run_install; expect_checks_passed
    stub id 'echo "uid=1000(user) gid=1000(user)"'
    run_install; expect_status 1
    grep -qx 'You must have superuser privileges to run the install.sh script.' out
    stub id 'echo "uid=0(root) gid=0(root) euid=1000(user)"'
    run_install; expect_status 1
    grep -qx 'You must have superuser privileges to run the install.sh script.' out
}

# uname_stub SYSTEM MACHINE: stand-in uname simulating another machine.
uname_stub() {
    stub uname "case \$1 in -s) echo '$1' ;; -m) echo '$2' ;; *) echo '$1' ;; esac"
}

@test "platform: name compared in lower case with the defaults' value" {
    set_default BUILD_PLATFORM Linux
    run_install; expect_refused 'Package target platform and running platform differ. Installation aborted.'
    set_default BUILD_PLATFORM freebsd
    run_install; expect_refused 'Package target platform and running platform differ. Installation aborted.'
    uname_stub FreeBSD amd64
    run_install; expect_checks_passed
}

@test "architecture rules" {
    MSG64='Cannot install 64-bit version of Vorlan Server on a 32-bit operating system.'
    MSG32='Cannot install 32-bit version of Vorlan Server on a 64-bit operating system.'
    uname_stub Linux i686
    run_install; expect_refused "$MSG64"
    uname_stub Linux i386
    run_install; expect_refused "$MSG64"
    set_default BUILD_ARCH x86_64
    run_install; expect_checks_passed
    set_default BUILD_ARCH all
    run_install; expect_checks_passed
    uname_stub Linux x86_64
    set_default BUILD_ARCH i386
    run_install; expect_refused "$MSG32"
    set_default BUILD_ARCH linux-i686
    run_install; expect_refused "$MSG32"
    set_default BUILD_ARCH all
    run_install; expect_checks_passed
    uname_stub Linux aarch64
    set_default BUILD_ARCH amd64
    run_install; expect_checks_passed
    set_default BUILD_ARCH i386
    run_install; expect_checks_passed
}

@test "architecture on SunOS comes from isainfo -kv" {
    uname_stub SunOS i86pc
    stub isainfo 'echo "64-bit amd64 kernel modules"'
    set_default BUILD_PLATFORM sunos
    set_default BUILD_ARCH i386
    run_install; expect_refused 'Cannot install 32-bit version of Vorlan Server on a 64-bit operating system.'
    stub isainfo 'echo "32-bit i386 kernel modules"'
    set_default BUILD_ARCH amd64
    run_install; expect_refused 'Cannot install 64-bit version of Vorlan Server on a 32-bit operating system.'
    set_default BUILD_ARCH i386
    run_install; expect_checks_passed
}

@test "older server installation: keyword configuration refused, XML accepted" {
    pre_ns 'mkdir -p /opt/vlsrv/bin /var/opt/vlsrv/etc; touch /opt/vlsrv/bin/vlsrv.sh'
    pre_ns 'printf "ListenPort 3128\nUser vlsrv\n" > /var/opt/vlsrv/etc/vlsrvd.conf'
    run_install; expect_refused "$OLD_VERSION_MSG"
    rm pre.sh
    pre_ns 'mkdir -p /opt/vlsrv/bin /var/opt/vlsrv/etc; touch /opt/vlsrv/bin/vlsrv.sh'
    pre_ns 'printf "<?xml version=\"1.0\"?>\n<config/>\n" > /var/opt/vlsrv/etc/vlsrvd.conf'
    run_install; expect_checks_passed
    rm pre.sh
    # "<" followed by a blank is no tag.
    pre_ns 'mkdir -p /opt/vlsrv/bin /var/opt/vlsrv/etc; touch /opt/vlsrv/bin/vlsrv.sh'
    pre_ns 'printf "< not xml\n" > /var/opt/vlsrv/etc/vlsrvd.conf'
    run_install; expect_refused "$OLD_VERSION_MSG"
}

@test "older server installation: one of the two files alone is accepted" {
    pre_ns 'mkdir -p /opt/vlsrv/bin; touch /opt/vlsrv/bin/vlsrv.sh'
    run_install; expect_checks_passed
    rm pre.sh
    pre_ns 'mkdir -p /var/opt/vlsrv/etc; echo "User vlsrv" > /var/opt/vlsrv/etc/vlsrvd.conf'
    run_install; expect_checks_passed
}

@test "older server installation is reported to a non-root user before the superuser check" {
    pre_ns 'mkdir -p /opt/vlsrv/bin /var/opt/vlsrv/etc; touch /opt/vlsrv/bin/vlsrv.sh'
    pre_ns 'printf "<config/>\n" > /var/opt/vlsrv/etc/vlsrvd.conf; chmod 0600 /var/opt/vlsrv/etc/vlsrvd.conf'
    RUN_AS="setpriv --reuid=nobody --regid=nogroup --clear-groups" run_install
    expect_refused "$OLD_VERSION_MSG"
    # The same XML file readable by root passes.
    run_install; expect_checks_passed
}

@test "old rpm package installed: refused (stand-in rpm, the rpm database here is empty)" {
    stub rpm '[ "$1" = -q ] && [ "$2" = vorlan-cresta-proxy ] && exit 0; exit 1'
    run_install; expect_refused "$OLD_VERSION_MSG"
    stub rpm '[ "$1" = -q ] && [ "$2" = vorlan-cresta-server ] && exit 0; exit 1'
    run_install; expect_refused "$OLD_VERSION_MSG"
    stub rpm '[ "$1" = -q ] && [ "$2" = vorlan-pelago ] && exit 0; echo "package $2 is not installed"; exit 1'
    run_install; expect_checks_passed
}

@test "old deb package installed: refused (real dpkg, private database copy)" {
    build_deb vorlan-cresta 9.0.0-1
    build_deb vorlan-pelago 9.0.0-1
    pre_ns "dpkg --log=/dev/null -i '$W/vorlan-pelago.deb' >/dev/null"
    NS_DPKG=1 run_install; expect_checks_passed
    pre_ns "dpkg --log=/dev/null -i '$W/vorlan-cresta.deb' >/dev/null"
    NS_DPKG=1 run_install; expect_refused "$OLD_VERSION_MSG"
    # Removed but its configuration kept ("rc"): not an installation.
    pre_ns "dpkg --log=/dev/null -r vorlan-cresta >/dev/null"
    NS_DPKG=1 run_install; expect_checks_passed
    # The host database never saw the package.
    not dpkg-query -W vorlan-cresta 2>/dev/null
}
