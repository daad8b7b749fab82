#!/usr/bin/env bats
# The shipped installer from end to end through each launcher, as root in a
# private mount namespace, answered through a pipe and through a terminal.

load helpers

setup() {
    setup_shipped
}

teardown() {
    teardown_workdir
}

# What the installation leaves, for the checks after the namespace is gone.
RECORD='
    {
        grep "^certificate=" /etc/opt/vorlansoft/cresta-proxy/vlproxy.conf
        [ -e /tmp/vlsrv-certificate-path ] && echo "hand-over file left"
        find /opt /etc/opt/vorlansoft -type f -printf "%m %u:%g %p\n" | sort
    } >installed
    /etc/opt/vorlansoft/software/vorlan-cresta-proxy.remove now >/dev/null
'

@test "piped answers: the agreement is printed, accepted, and the product installed" {
    in_namespace "$CERT_SETUP
        printf 'yes\n/etc/opt/ssl/server.pem\n' | $EMULATOR ./$INSTALLER_NAME >out 2>err
        echo \$? >status
        $RECORD"
    [ "$(cat status)" = 0 ]
    # dpkg-query's note that no older package is installed is the only stderr.
    [ "$(cat err)" = "dpkg-query: no packages found matching vorlan-cresta*" ]
    # The launcher's lines, then the agreement as it is, then the questions.
    {
        printf 'Verifying archive integrity... Succeed.\n'
        printf 'Uncompressing in %s...\n' "$TARGET_DIR"
        cat "$SOURCE_DIR/payload/EULA"
        printf 'To continue the installation, you must accept the License Agreement. Accept? (yes/NO) yes\n'
        printf 'Please enter path to your server certificate.\nIf you plan to place certificate later, press Enter.\n\n: '
        printf 'Package installation started, please wait...\n'
    } >expected
    head -c "$(stat -c %s expected)" out | cmp - expected
    [ "$(tail -n 2 out)" = "$(printf '\nInstallation completed.')" ]
    grep -qx 'certificate=/etc/opt/ssl/server.pem' installed
    run -1 grep -q 'hand-over file left' installed
    grep -qx '755 root:root /opt/vorlansoft/cresta-proxy/bin/vlproxy' installed
    grep -qx '755 root:root /etc/opt/vorlansoft/software/vorlan-cresta-proxy.remove' installed
}

@test "declining the agreement installs nothing and leaves status 1" {
    in_namespace "printf 'no\n' | $EMULATOR ./$INSTALLER_NAME >out 2>&1
        echo \$? >status
        find /opt /etc/opt /var/opt -mindepth 1 >left"
    [ "$(cat status)" = 1 ]
    [ "$(tail -n 2 out)" = "$(printf '\nYou have not accepted the License Agreement. Installation aborted.')" ]
    [ ! -s left ]
}

@test "from /tmp, where nobody made a 0777 target holding a planted *.install: refused, nothing runs" {
    in_namespace "cp ./$INSTALLER_NAME /tmp/
        as_nobody sh -c '
            mkdir -m 0777 /tmp/$TARGET_DIR &&
            printf \"#!/bin/sh\\n: >/tmp/pwned\\n\" >/tmp/$TARGET_DIR/zz-planted.install &&
            chmod 0755 /tmp/$TARGET_DIR/zz-planted.install'
        (cd /tmp && printf 'yes\n\n' | $EMULATOR ./$INSTALLER_NAME) >out 2>err
        echo \$? >status
        find /tmp /opt /etc/opt /var/opt -mindepth 1 -path $WORK -prune -o -printf '%p %u %m\n' |
            LC_ALL=C sort >left"
    [ "$(cat status)" = 255 ]
    [ "$(cat out)" = 'Verifying archive integrity... Succeed.' ]
    [ "$(cat err)" = "Refusing target directory $TARGET_DIR: it is owned by uid 65534" ]
    [ "$(cat left)" = "/tmp/$INSTALLER_NAME root 755
/tmp/$TARGET_DIR nobody 777
/tmp/$TARGET_DIR/zz-planted.install nobody 755" ]
}

@test "run by another user: the script's refusal names the directory the launcher extracted it into" {
    in_namespace "cp ./$INSTALLER_NAME /tmp/
        (cd /tmp && as_nobody $EMULATOR ./$INSTALLER_NAME) >out
        echo \$? >status"
    [ "$(cat status)" = 1 ]
    [ "$(cat out)" = "Verifying archive integrity... Succeed.
Uncompressing in $TARGET_DIR...

You must have superuser privileges to run the install.sh script.
Please run \"$TARGET_DIR/install.sh\" as root." ]
}

@test "a terminal: the real pager shows the agreement, keys answer the questions" {
    command -v tmux >/dev/null || skip "tmux is not installed"
    local session=vorlan-$$-$LAUNCHER_ARCH
    # The launcher and everything it runs get the terminal as stdin and stdout.
    in_namespace "$CERT_SETUP
        $(on_terminal "$session" C.UTF-8 "'/etc/opt/ssl/server.pem'")
        $RECORD"
    [ "$(cat status)" = 0 ]
    grep -q -e '--More--' paged
    grep -q 'Accept? (yes/NO) yes' screen
    grep -qx 'certificate=/etc/opt/ssl/server.pem' installed
}
