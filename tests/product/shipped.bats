#!/usr/bin/env bats
# The shipped installer from end to end: built by build-shipped.sh with the
# 64-bit launcher, run as root in a private mount namespace in quiet mode,
# it installs the product package; the product's removal script then takes
# everything away again.

# The namespace scenarios are single-quoted on purpose: they expand inside
# the namespace, not here.
# shellcheck disable=SC2016
load helpers

setup() {
    K=$BATS_TEST_TMPDIR
    chmod 0755 "$K"
    require_launcher "$LAUNCHER_X86_64"
    "$SOURCE_DIR/scripts/build-shipped.sh" "$LAUNCHER_X86_64" "$K/out"
}

@test "the shipped installer installs the product with the certificate path given, and it can be removed" {
    run ns_run '
        mkdir -p /etc/opt/ssl
        printf -- "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n" > /etc/opt/ssl/server.pem
        snapshot > "$K/before"
        cd /var/tmp
        cp "$K/out/vorlan-cresta-proxy-1100-201805310-linux-x86_64.tar.gz" .
        echo /etc/opt/ssl/server.pem |
            ./vorlan-cresta-proxy-1100-201805310-linux-x86_64.tar.gz -- --quiet > "$K/run-out" 2>&1
        echo "$?" > "$K/rc"
        wait_for 50 test -e /var/opt/vorlansoft/cresta-proxy/run/vlproxy.status
        grep "^certificate=" /etc/opt/vorlansoft/cresta-proxy/vlproxy.conf > "$K/cert-line"
        [ -e /tmp/vlsrv-certificate-path ] && echo present > "$K/handover"
        /etc/opt/vorlansoft/cresta-proxy/init.d/vlproxy status > /dev/null
        echo "$?" > "$K/running"
        head -n 1 /var/opt/vorlansoft/cresta-proxy/run/vlproxy.status > "$K/state"
        /etc/opt/vorlansoft/software/vorlan-cresta-proxy.remove now > "$K/remove-out" 2>&1
        echo "$?" > "$K/remove-rc"
        rm -rf /var/tmp/vorlan-cresta-proxy-1100-201805310-linux-x86_64.tar.gz*
        snapshot > "$K/after"
        true
    '
    [ "$status" -eq 0 ]
    cat "$K/run-out"
    [ "$(cat "$K/rc")" = 0 ]
    # The answer to the certificate question ends the prompt line ": ".
    grep -qx ': Package installation started, please wait\.\.\.' "$K/run-out"
    grep -qx 'vorlan-cresta-proxy: certificate path recorded: /etc/opt/ssl/server.pem' "$K/run-out"
    [ "$(tail -n 1 "$K/run-out")" = "Installation completed." ]
    [ "$(cat "$K/cert-line")" = "certificate=/etc/opt/ssl/server.pem" ]
    [ ! -e "$K/handover" ]
    [ "$(cat "$K/running")" = 0 ]
    [ "$(cat "$K/state")" = "state=ok" ]
    [ "$(cat "$K/remove-rc")" = 0 ]
    diff "$K/before" "$K/after"
}
