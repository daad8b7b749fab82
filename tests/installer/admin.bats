#!/usr/bin/env bats
# The shipped installer run the ways administrators run it: the Russian
# agreement converted and paged on a real terminal, and every question
# answered by "yes". As root in a private mount namespace, once per launcher.

load helpers

setup() {
    setup_shipped
}

teardown() {
    teardown_workdir
}

@test "a terminal in KOI8-R: the converted agreement is paged and returns by itself" {
    command -v tmux >/dev/null || skip "tmux is not installed"
    local session=vorlan-ru-$$-$LAUNCHER_ARCH
    in_namespace "$(on_terminal "$session" ru_RU.KOI8-R "")
        grep '^certificate=' /etc/opt/vorlansoft/cresta-proxy/vlproxy.conf >recorded"
    [ "$(cat status)" = 0 ]
    grep -q -e '--More--' paged
    grep -q 'Accept? (yes/NO) yes' screen
    [ "$(cat recorded)" = certificate= ]
}

@test "yes | installer: five unusable certificate answers, then it goes on and completes" {
    in_namespace "
        yes | timeout 30 $EMULATOR ./$INSTALLER_NAME >out 2>err
        echo \$? >status
        grep '^certificate=' /etc/opt/vorlansoft/cresta-proxy/vlproxy.conf >recorded
        /etc/opt/vorlansoft/software/vorlan-cresta-proxy.remove now >/dev/null"
    [ "$(cat status)" = 0 ]
    [ "$(grep -c 'Please enter path to your server certificate.' out)" = 5 ]
    grep -qx ': No usable certificate path in 5 answers; the certificate can be set later.' out
    [ "$(tail -n 2 out)" = "$(printf '\nInstallation completed.')" ]
    [ "$(cat recorded)" = certificate= ]
}

@test "a quiet reinstall keeps the recorded certificate path" {
    in_namespace "$CERT_SETUP
        printf 'yes\n/etc/opt/ssl/server.pem\n' | $EMULATOR ./$INSTALLER_NAME >out1 2>&1
        printf '\n' | $EMULATOR ./$INSTALLER_NAME -- --quiet >out 2>&1
        echo \$? >status
        grep '^certificate=' /etc/opt/vorlansoft/cresta-proxy/vlproxy.conf >recorded
        /etc/opt/vorlansoft/software/vorlan-cresta-proxy.remove now >/dev/null"
    [ "$(cat status)" = 0 ]
    grep -qx 'vorlan-cresta-proxy: certificate path kept: /etc/opt/ssl/server.pem' out
    [ "$(cat recorded)" = certificate=/etc/opt/ssl/server.pem ]
}
