#!/usr/bin/env bats
# Reinstalling and upgrading the product over an installed copy: what
# becomes of the configuration file and of the recorded certificate path.
# As root in a private mount namespace, as the embedded script runs the
# install step.

# The namespace scenarios are single-quoted on purpose: they expand inside
# the namespace, not here.
# shellcheck disable=SC2016
load helpers

P=vorlan-cresta-proxy
CONF=/etc/opt/vorlansoft/cresta-proxy/vlproxy.conf

setup() {
    K=$BATS_TEST_TMPDIR
    chmod 0755 "$K"
    unpack_product
}

# make_upgrade DIR [failing-start]: in $K/DIR, the package with a new
# default configuration (check_interval=30) and, if asked, an init script
# whose start fails.
make_upgrade() {
    local root="$K/$1-root"
    cp -r "$K/pkg" "$K/$1"
    mkdir "$root"
    tar -C "$root" -xf "$K/pkg/$P.sw"
    sed -i 's/^check_interval=60$/check_interval=30/' "$root$CONF"
    grep -qx 'check_interval=30' "$root$CONF"
    if [ "${2-}" = failing-start ]; then
        printf '#!/bin/sh\n[ "$1" = start ] && exit 1\nexit 0\n' > "$root/etc/opt/vorlansoft/cresta-proxy/init.d/vlproxy"
    fi
    (cd "$root" && tar --format=ustar -cf "$K/$1/$P.sw" etc opt var)
}

# new_default CERT: the new default configuration with CERT recorded.
new_default() {
    sed "s|^certificate=\$|certificate=$1|" "$K/up-root$CONF"
}

@test "upgrade over a changed configuration keeps it, puts the new default beside it, restarts" {
    make_upgrade up
    run ns_run '
        write_handover "/srv/a.pem
"
        install_product -u EPM_NOSTART > "$K/out1" 2>&1
        wait_for 50 test -e '"$STATUS_FILE"'
        cp '"$PID_FILE"' "$K/pid1"
        echo "check_interval=5" >> '"$CONF"'
        cp '"$CONF"' "$K/edited"
        write_handover ""
        (cd "$K/up" && env -u EPM_NOSTART ./vorlan-cresta-proxy.install now) > "$K/out" 2>&1
        echo "$?" > "$K/rc"
        wait_for 50 test -e '"$STATUS_FILE"'
        alive "$(cat '"$PID_FILE"')" && ! alive "$(cat "$K/pid1")" && echo restarted > "$K/running"
        cp '"$CONF"' "$K/conf"
        cp '"$CONF"'.new "$K/conf.new"
        cp /etc/opt/vorlansoft/software/vorlan-cresta-proxy.files "$K/manifest"
        remove_product > "$K/remove-out" 2>&1
        echo "$?" > "$K/remove-rc"
        find /etc/opt /opt /var/opt | LC_ALL=C sort > "$K/after"
        cmp -s '"$CONF"' "$K/edited" && echo same > "$K/kept"
        true
    '
    [ "$status" -eq 0 ]
    [ "$(cat "$K/rc")" = 0 ]
    cmp "$K/edited" "$K/conf"
    diff <(new_default /srv/a.pem) "$K/conf.new"
    grep -qx "$P: keeping $CONF, changed since it was installed; the new default is $CONF.new" "$K/out"
    grep -qx "$P: certificate path kept: /srv/a.pem" "$K/out"
    grep -qx "vlproxy stopped." "$K/out"
    [ "$(cat "$K/running")" = restarted ]
    grep -qx "c $(md5sum < "$K/conf.new" | cut -d ' ' -f 1) $CONF" "$K/manifest"
    grep -qx "f $CONF.new" "$K/manifest"
    # The removal keeps the changed file, and only what holds it.
    [ "$(cat "$K/remove-rc")" = 0 ]
    grep -qx "$P: keeping $CONF, changed since it was installed" "$K/remove-out"
    [ "$(cat "$K/kept")" = same ]
    [ "$(cat "$K/after")" = "/etc/opt
/etc/opt/vorlansoft
/etc/opt/vorlansoft/cresta-proxy
$CONF
/opt
/var/opt" ]
}

@test "upgrade over an unchanged configuration replaces it; an empty answer keeps the certificate" {
    make_upgrade up
    run ns_run '
        write_handover "/srv/a.pem
"
        install_product EPM_NOSTART=y > "$K/out1" 2>&1
        write_handover ""
        (cd "$K/up" && ./vorlan-cresta-proxy.install now) > "$K/out" 2>&1
        echo "$?" > "$K/rc"
        cp '"$CONF"' "$K/conf"
        ls -A /etc/opt/vorlansoft/cresta-proxy > "$K/dir"
        write_handover "/srv/b.pem
"
        (cd "$K/up" && ./vorlan-cresta-proxy.install now) > "$K/out2" 2>&1
        echo "$?" >> "$K/rc"
        cp '"$CONF"' "$K/conf2"
        [ -e /tmp/vlsrv-certificate-path ] && echo left > "$K/handover"
        remove_product > "$K/remove-out" 2>&1
        find /etc/opt /opt /var/opt -mindepth 1 > "$K/after"
        true
    '
    [ "$status" -eq 0 ]
    [ "$(cat "$K/rc")" = $'0\n0' ]
    diff <(new_default /srv/a.pem) "$K/conf"
    grep -qx "$P: certificate path kept: /srv/a.pem" "$K/out"
    [ "$(cat "$K/dir")" = $'init.d\nvlproxy.conf' ]
    # A non-empty answer replaces the recorded path.
    diff <(new_default /srv/b.pem) "$K/conf2"
    grep -qx "$P: certificate path recorded: /srv/b.pem" "$K/out2"
    [ ! -e "$K/handover" ]
    [ ! -s "$K/after" ]
}

@test "upgrade over a changed configuration with a new certificate answer: the kept file records it" {
    make_upgrade up
    run ns_run '
        write_handover "/srv/a.pem
"
        install_product EPM_NOSTART=y > "$K/out1" 2>&1
        echo "check_interval=5" >> '"$CONF"'
        cp '"$CONF"' "$K/edited"
        write_handover "/srv/b.pem
"
        (cd "$K/up" && EPM_NOSTART=y ./vorlan-cresta-proxy.install now) > "$K/out" 2>&1
        echo "$?" > "$K/rc"
        cp '"$CONF"' "$K/conf"
        true
    '
    [ "$status" -eq 0 ]
    [ "$(cat "$K/rc")" = 0 ]
    grep -qx "$P: keeping $CONF, changed since it was installed; the new default is $CONF.new" "$K/out"
    diff <(sed 's|^certificate=/srv/a.pem$|certificate=/srv/b.pem|' "$K/edited") "$K/conf"
}

@test "an installation that recorded no digest: its configuration counts as changed unless it is the default" {
    make_upgrade up
    for edit in yes no; do
        run ns_run '
            write_handover "/srv/a.pem
"
            install_product EPM_NOSTART=y > "$K/out1" 2>&1
            sed -i "s|^c [0-9a-f]* |f |" /etc/opt/vorlansoft/software/vorlan-cresta-proxy.files
            [ '"$edit"' = yes ] && echo "check_interval=5" >> '"$CONF"'
            cp '"$CONF"' "$K/before"
            (cd "$K/pkg" && ./vorlan-cresta-proxy.install now) > "$K/out" 2>&1
            echo "$?" > "$K/rc"
            cp '"$CONF"' "$K/conf"
            ls -A /etc/opt/vorlansoft/cresta-proxy > "$K/dir"
            true
        '
        [ "$status" -eq 0 ]
        [ "$(cat "$K/rc")" = 0 ]
        cmp "$K/before" "$K/conf"
        if [ "$edit" = yes ]; then
            [ "$(cat "$K/dir")" = $'init.d\nvlproxy.conf\nvlproxy.conf.new' ]
        else
            [ "$(cat "$K/dir")" = $'init.d\nvlproxy.conf' ]
        fi
    done
}

@test "a failing upgrade leaves the configuration as it was" {
    make_upgrade fail failing-start
    for edit in yes no; do
        run ns_run '
            write_handover "/srv/a.pem
"
            install_product EPM_NOSTART=y > "$K/out1" 2>&1
            [ '"$edit"' = yes ] && echo "check_interval=5" >> '"$CONF"'
            cp '"$CONF"' "$K/before"
            write_handover "/srv/b.pem
"
            (cd "$K/fail" && env -u EPM_NOSTART ./vorlan-cresta-proxy.install now) > "$K/out" 2>&1
            echo "$?" > "$K/rc"
            cp '"$CONF"' "$K/conf"
            find /etc/opt /opt /var/opt -type f > "$K/left"
            true
        '
        [ "$status" -eq 0 ]
        [ "$(cat "$K/rc")" = 1 ]
        grep -qx "$P: error: cannot start the service" "$K/out"
        grep -qx "$P: installation failed, removing what was installed" "$K/out"
        grep -qx "$P: your configuration is back in $CONF" "$K/out"
        cmp "$K/before" "$K/conf"
        [ "$(cat "$K/left")" = "$CONF" ]
    done
}
