#!/usr/bin/env bats
# The product package's install and removal steps, run as root in a private
# mount namespace exactly as the embedded script runs them: from the
# unpacked package directory, "./vorlan-cresta-proxy.install now".

# The namespace scenarios are single-quoted on purpose: they expand inside
# the namespace, not here.
# shellcheck disable=SC2016
load helpers

P=vorlan-cresta-proxy
NO_CERT_MSG="$P: no certificate path handed over; set certificate= in /etc/opt/vorlansoft/cresta-proxy/vlproxy.conf later"

setup() {
    K=$BATS_TEST_TMPDIR
    chmod 0755 "$K"
    unpack_product
}

# The tree that an install with EPM_NOSTART set leaves, as snapshot lists it.
INSTALLED_TREE="/etc/opt d 755 root:root
/etc/opt/vorlansoft d 755 root:root
/etc/opt/vorlansoft/cresta-proxy d 755 root:root
/etc/opt/vorlansoft/cresta-proxy/init.d d 755 root:root
/etc/opt/vorlansoft/cresta-proxy/init.d/vlproxy f 755 root:root
/etc/opt/vorlansoft/cresta-proxy/vlproxy.conf f 644 root:root
/etc/opt/vorlansoft/software d 755 root:root
/etc/opt/vorlansoft/software/vorlan-cresta-proxy.files f 644 root:root
/etc/opt/vorlansoft/software/vorlan-cresta-proxy.remove f 755 root:root
/opt d 755 root:root
/opt/vorlansoft d 755 root:root
/opt/vorlansoft/cresta-proxy d 755 root:root
/opt/vorlansoft/cresta-proxy/bin d 755 root:root
/opt/vorlansoft/cresta-proxy/bin/vlproxy f 755 root:root
/opt/vorlansoft/cresta-proxy/doc d 755 root:root
/opt/vorlansoft/cresta-proxy/doc/LICENSE f 644 root:root
/opt/vorlansoft/cresta-proxy/doc/NOTICES f 644 root:root
/var/opt d 755 root:root
/var/opt/vorlansoft d 755 root:root
/var/opt/vorlansoft/cresta-proxy d 755 root:root
/var/opt/vorlansoft/cresta-proxy/log d 755 root:root
/var/opt/vorlansoft/cresta-proxy/run d 755 root:root"

MANIFEST="d /etc/opt/vorlansoft
d /etc/opt/vorlansoft/software
f /etc/opt/vorlansoft/software/vorlan-cresta-proxy.remove
r /var/opt/vorlansoft/cresta-proxy/run/vlproxy.pid
r /var/opt/vorlansoft/cresta-proxy/run/vlproxy.status
r /var/opt/vorlansoft/cresta-proxy/run/vlproxy.status.new
r /var/opt/vorlansoft/cresta-proxy/log/vlproxy.log
d /etc/opt/vorlansoft/cresta-proxy
d /etc/opt/vorlansoft/cresta-proxy/init.d
d /opt/vorlansoft
d /opt/vorlansoft/cresta-proxy
d /opt/vorlansoft/cresta-proxy/bin
d /opt/vorlansoft/cresta-proxy/doc
d /var/opt/vorlansoft
d /var/opt/vorlansoft/cresta-proxy
d /var/opt/vorlansoft/cresta-proxy/log
d /var/opt/vorlansoft/cresta-proxy/run
f /etc/opt/vorlansoft/cresta-proxy/init.d/vlproxy
c $(md5sum < "$TREE_SRC/etc/opt/vorlansoft/cresta-proxy/vlproxy.conf" | cut -d ' ' -f 1) /etc/opt/vorlansoft/cresta-proxy/vlproxy.conf
f /opt/vorlansoft/cresta-proxy/bin/vlproxy
f /opt/vorlansoft/cresta-proxy/doc/LICENSE
f /opt/vorlansoft/cresta-proxy/doc/NOTICES"

# conf_with CERT: the source configuration with its certificate line set.
conf_with() {
    sed "s|^certificate=\$|certificate=$1|" "$TREE_SRC/etc/opt/vorlansoft/cresta-proxy/vlproxy.conf"
}

# rejected SETUP REASON: the hand-over file made by SETUP is not read: the
# install says why, records nothing and leaves the file as it was.
rejected() {
    run ns_run "
        $1
        stat -c '%F %u %a %s' /tmp/vlsrv-certificate-path > \"\$K/before\"
        install_product EPM_NOSTART=y > \"\$K/out\" 2>&1
        echo \"\$?\" > \"\$K/rc\"
        stat -c '%F %u %a %s' /tmp/vlsrv-certificate-path > \"\$K/after\"
        cp /etc/opt/vorlansoft/cresta-proxy/vlproxy.conf \"\$K/conf\"
        true
    "
    [ "$status" -eq 0 ]
    [ "$(cat "$K/rc")" = 0 ]
    grep -qx "$P: ignoring /tmp/vlsrv-certificate-path: $2; the certificate path is not recorded" "$K/out"
    run grep -c 'certificate path recorded' "$K/out"
    [ "$output" = 0 ]
    cmp "$K/conf" "$TREE_SRC/etc/opt/vorlansoft/cresta-proxy/vlproxy.conf"
    cmp "$K/before" "$K/after"
}

# started ENV...: installs with the given environment (a good certificate
# handed over), records what runs, removes the product and records again.
started() {
    run ns_run "
        mkdir -p /etc/opt/ssl
        printf -- '-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n' > /etc/opt/ssl/server.pem
        write_handover '/etc/opt/ssl/server.pem
'
        install_product $* > \"\$K/out\" 2>&1
        echo \"\$?\" > \"\$K/rc\"
        wait_for 50 test -e $STATUS_FILE
        sleep 0.2
        pid=\$(cat $PID_FILE)
        echo \"\$pid\" > \"\$K/pid\"
        if alive \"\$pid\"; then echo alive; else echo dead; fi > \"\$K/alive\"
        tr '\\0' ' ' < /proc/\$pid/cmdline > \"\$K/cmdline\"
        readlink /proc/\$pid/cwd > \"\$K/cwd\"
        cp $STATUS_FILE \"\$K/status\"
        $INIT status > \"\$K/status-out\"
        echo \"\$?\" >> \"\$K/status-out\"
        remove_product > \"\$K/remove-out\" 2>&1
        echo \"\$?\" > \"\$K/remove-rc\"
        if alive \"\$pid\"; then echo alive; else echo dead; fi > \"\$K/alive-after\"
        [ -e /var/opt/vorlansoft ] && echo left > \"\$K/var-left\"
        true
    "
    [ "$status" -eq 0 ]
    [ "$(cat "$K/rc")" = 0 ]
    local pid
    pid=$(cat "$K/pid")
    grep -qx "vlproxy started (pid $pid)." "$K/out"
    [ "$(tail -n 1 "$K/out")" = "$P: Vorlan Cresta Proxy 1100-201805310 installed" ]
    [ "$(cat "$K/alive")" = alive ]
    [ "$(cat "$K/cmdline")" = "/bin/sh /opt/vorlansoft/cresta-proxy/bin/vlproxy -c /etc/opt/vorlansoft/cresta-proxy/vlproxy.conf run " ]
    # Not the package directory it was installed from.
    [ "$(cat "$K/cwd")" = / ]
    [ "$(head -n 2 "$K/status")" = $'state=ok\ncertificate=/etc/opt/ssl/server.pem' ]
    [ "$(cat "$K/status-out")" = "vlproxy is running (pid $pid)."$'\n0' ]
    [ "$(cat "$K/remove-rc")" = 0 ]
    [ "$(cat "$K/remove-out")" = "$P: removing Vorlan Cresta Proxy
vlproxy stopped.
$P: Vorlan Cresta Proxy removed" ]
    [ "$(cat "$K/alive-after")" = dead ]
    [ ! -e "$K/var-left" ]
}

@test "the install and removal steps refuse to run without the argument now" {
    run "$K/pkg/$P.install"
    [ "$status" -eq 2 ]
    [ "${lines[0]}" = "usage: $K/pkg/$P.install now" ]
    run "$K/pkg/$P.install" later
    [ "$status" -eq 2 ]
    run "$K/pkg/$P.remove" now please
    [ "$status" -eq 2 ]
    [ "${lines[0]}" = "usage: $K/pkg/$P.remove now" ]
}

@test "the install and removal steps refuse to run for an ordinary user" {
    # The scripts come on standard input: the test directory's parents may
    # be closed to other users.
    run setpriv --reuid=65534 --regid=65534 --clear-groups sh -s now < "$K/pkg/$P.install"
    [ "$status" -eq 1 ]
    [ "$output" = "$P: error: must be run as root" ]
    run setpriv --reuid=65534 --regid=65534 --clear-groups sh -s now < "$K/pkg/$P.remove"
    [ "$status" -eq 1 ]
    [ "$output" = "$P: error: must be run as root" ]
}

@test "install puts every file in place with the expected content, modes and manifest" {
    run ns_run '
        install_product EPM_NOSTART=y > "$K/out" 2>&1
        echo "$?" > "$K/rc"
        find /etc/opt /opt /var/opt -printf "%p %y %m %u:%g\n" | LC_ALL=C sort > "$K/tree"
        mkdir "$K/got"
        cp /etc/opt/vorlansoft/software/* /etc/opt/vorlansoft/cresta-proxy/vlproxy.conf \
           /etc/opt/vorlansoft/cresta-proxy/init.d/vlproxy /opt/vorlansoft/cresta-proxy/doc/* "$K/got/"
        cp /opt/vorlansoft/cresta-proxy/bin/vlproxy "$K/got/vlproxy.bin"
        find /tmp /var/tmp -maxdepth 1 -name "vorlan-cresta-proxy.*" > "$K/tmp-left"
        true
    '
    [ "$status" -eq 0 ]
    [ "$(cat "$K/rc")" = 0 ]
    run cat "$K/out"
    [ "$output" = "$P: installing Vorlan Cresta Proxy 1100-201805310
$P: unpacking vorlan-cresta-proxy.sw
$P: installing files
$NO_CERT_MSG
$P: EPM_NOSTART is set, the service is not started
$P: Vorlan Cresta Proxy 1100-201805310 installed" ]
    [ "$(cat "$K/tree")" = "$INSTALLED_TREE" ]
    [ "$(cat "$K/got/$P.files")" = "$MANIFEST" ]
    cmp "$K/got/$P.remove" "$PRODUCT_SRC/$P.remove"
    cmp "$K/got/vlproxy.conf" "$TREE_SRC/etc/opt/vorlansoft/cresta-proxy/vlproxy.conf"
    cmp "$K/got/vlproxy" "$TREE_SRC/etc/opt/vorlansoft/cresta-proxy/init.d/vlproxy"
    cmp "$K/got/vlproxy.bin" "$TREE_SRC/opt/vorlansoft/cresta-proxy/bin/vlproxy"
    cmp "$K/got/LICENSE" "$SOURCE_DIR/payload/EULA"
    cmp "$K/got/NOTICES" "$PRODUCT_SRC/$P.notices"
    # The staging directory is gone.
    [ ! -s "$K/tmp-left" ]
}

@test "a good hand-over file: the certificate path is recorded and the file removed" {
    run ns_run '
        write_handover "/etc/ssl/vorlan/server.pem
"
        install_product EPM_NOSTART=y > "$K/out" 2>&1
        echo "$?" > "$K/rc"
        cp /etc/opt/vorlansoft/cresta-proxy/vlproxy.conf "$K/conf"
        if [ -e /tmp/vlsrv-certificate-path ]; then echo present; else echo gone; fi > "$K/handover"
        true
    '
    [ "$status" -eq 0 ]
    [ "$(cat "$K/rc")" = 0 ]
    grep -qx "$P: certificate path recorded: /etc/ssl/vorlan/server.pem" "$K/out"
    run grep -c 'ignoring' "$K/out"
    [ "$output" = 0 ]
    diff <(conf_with /etc/ssl/vorlan/server.pem) "$K/conf"
    grep -qx 'certificate=/etc/ssl/vorlan/server.pem' "$K/conf"
    [ "$(cat "$K/handover")" = gone ]
}

@test "an empty hand-over file is consumed and leaves the certificate unset" {
    run ns_run '
        write_handover ""
        install_product EPM_NOSTART=y > "$K/out" 2>&1
        echo "$?" > "$K/rc"
        cp /etc/opt/vorlansoft/cresta-proxy/vlproxy.conf "$K/conf"
        [ -e /tmp/vlsrv-certificate-path ] && echo present > "$K/handover"
        true
    '
    [ "$status" -eq 0 ]
    [ "$(cat "$K/rc")" = 0 ]
    grep -qx "$P: no certificate path given; set certificate= in /etc/opt/vorlansoft/cresta-proxy/vlproxy.conf later" "$K/out"
    cmp "$K/conf" "$TREE_SRC/etc/opt/vorlansoft/cresta-proxy/vlproxy.conf"
    [ ! -e "$K/handover" ]
}

@test "a hand-over file without a final line end still gives its one line" {
    run ns_run '
        write_handover "/srv/cert.pem"
        install_product EPM_NOSTART=y > "$K/out" 2>&1
        echo "$?" > "$K/rc"
        cp /etc/opt/vorlansoft/cresta-proxy/vlproxy.conf "$K/conf"
        true
    '
    [ "$(cat "$K/rc")" = 0 ]
    diff <(conf_with /srv/cert.pem) "$K/conf"
}

@test "a hand-over file that is a symbolic link is not read" {
    rejected '
        (umask 077; echo /etc/ssl/evil.pem > /tmp/real)
        ln -s /tmp/real /tmp/vlsrv-certificate-path
    ' "it is a symbolic link"
    [ "$(cat "$K/after")" = "symbolic link 0 777 9" ]
}

@test "a hand-over file owned by nobody is not read" {
    rejected 'write_handover "/etc/ssl/evil.pem
" 0600 65534:65534' "it is not owned by root"
    [ "$(cat "$K/after")" = "regular file 65534 600 18" ]
}

@test "a hand-over file with mode 0644 is not read" {
    rejected 'write_handover "/etc/ssl/evil.pem
" 0644' "its mode is not 0600"
    [ "$(cat "$K/after")" = "regular file 0 644 18" ]
}

@test "a hand-over file with mode 0400 is not read" {
    rejected 'write_handover "/etc/ssl/evil.pem
" 0400' "its mode is not 0600"
}

@test "a directory at the hand-over path is not read" {
    rejected 'mkdir -m 0700 /tmp/vlsrv-certificate-path' "it is not a regular file"
}

@test "EPM_NOSTART=y: the service is not started" {
    run ns_run '
        install_product EPM_NOSTART=y > "$K/out" 2>&1
        echo "$?" > "$K/rc"
        sleep 0.5
        ls -A /var/opt/vorlansoft/cresta-proxy/run /var/opt/vorlansoft/cresta-proxy/log > "$K/runtime"
        /etc/opt/vorlansoft/cresta-proxy/init.d/vlproxy status > "$K/status-out"
        echo "$?" >> "$K/status-out"
        true
    '
    [ "$(cat "$K/rc")" = 0 ]
    [ "$(cat "$K/runtime")" = "/var/opt/vorlansoft/cresta-proxy/log:

/var/opt/vorlansoft/cresta-proxy/run:" ]
    [ "$(cat "$K/status-out")" = $'vlproxy is not running.\n3' ]
}

@test "EPM_NOSTART unset: the service starts, and the removal stops it" {
    started -u EPM_NOSTART
}

@test "EPM_NOSTART empty: the service starts, and the removal stops it" {
    started EPM_NOSTART=
}

@test "the removal removes exactly what the install put there, service files included" {
    run ns_run '
        mkdir -p /opt/other /var/opt/other
        echo keep > /opt/other/file
        snapshot > "$K/before"
        install_product -u EPM_NOSTART > "$K/out" 2>&1
        echo "$?" > "$K/rc"
        wait_for 50 test -e /var/opt/vorlansoft/cresta-proxy/run/vlproxy.status
        snapshot > "$K/installed"
        remove_product > "$K/remove-out" 2>&1
        echo "$?" > "$K/remove-rc"
        snapshot > "$K/after"
        true
    '
    [ "$status" -eq 0 ]
    [ "$(cat "$K/rc")" = 0 ]
    [ "$(cat "$K/remove-rc")" = 0 ]
    # The service ran and left its files, which the removal took too.
    grep -q '^/var/opt/vorlansoft/cresta-proxy/run/vlproxy.pid f ' "$K/installed"
    grep -q '^/var/opt/vorlansoft/cresta-proxy/log/vlproxy.log f ' "$K/installed"
    run cmp -s "$K/before" "$K/installed"
    [ "$status" -eq 1 ]
    diff "$K/before" "$K/after"
}

@test "the removal leaves foreign files and the directories that hold them" {
    run ns_run '
        install_product EPM_NOSTART=y > "$K/out" 2>&1
        echo foreign > /opt/vorlansoft/cresta-proxy/bin/foreign
        echo other > /etc/opt/vorlansoft/software/other-product.remove
        echo 42 > /var/opt/vorlansoft/cresta-proxy/run/other.pid
        remove_product > "$K/remove-out" 2>&1
        echo "$?" > "$K/remove-rc"
        find /etc/opt /opt /var/opt | LC_ALL=C sort > "$K/after"
        cat /opt/vorlansoft/cresta-proxy/bin/foreign > "$K/foreign"
        true
    '
    [ "$status" -eq 0 ]
    [ "$(cat "$K/remove-rc")" = 0 ]
    [ "$(cat "$K/after")" = "/etc/opt
/etc/opt/vorlansoft
/etc/opt/vorlansoft/software
/etc/opt/vorlansoft/software/other-product.remove
/opt
/opt/vorlansoft
/opt/vorlansoft/cresta-proxy
/opt/vorlansoft/cresta-proxy/bin
/opt/vorlansoft/cresta-proxy/bin/foreign
/var/opt
/var/opt/vorlansoft
/var/opt/vorlansoft/cresta-proxy
/var/opt/vorlansoft/cresta-proxy/run
/var/opt/vorlansoft/cresta-proxy/run/other.pid" ]
    [ "$(cat "$K/foreign")" = foreign ]
    grep -qx "$P: keeping /opt/vorlansoft/cresta-proxy/bin, it holds other files" "$K/remove-out"
    grep -qx "$P: keeping /etc/opt/vorlansoft/software, it holds other files" "$K/remove-out"
}

@test "directories that existed before the install stay after the removal" {
    run ns_run '
        mkdir -p /opt/vorlansoft /etc/opt/vorlansoft/software
        install_product EPM_NOSTART=y > "$K/out" 2>&1
        cp /etc/opt/vorlansoft/software/vorlan-cresta-proxy.files "$K/manifest"
        remove_product > "$K/remove-out" 2>&1
        echo "$?" > "$K/remove-rc"
        find /etc/opt /opt /var/opt | LC_ALL=C sort > "$K/after"
        true
    '
    [ "$(cat "$K/remove-rc")" = 0 ]
    run grep -c -e '^d /opt/vorlansoft$' -e '^d /etc/opt/vorlansoft$' -e '^d /etc/opt/vorlansoft/software$' "$K/manifest"
    [ "$output" = 0 ]
    grep -qx 'd /opt/vorlansoft/cresta-proxy' "$K/manifest"
    [ "$(cat "$K/after")" = "/etc/opt
/etc/opt/vorlansoft
/etc/opt/vorlansoft/software
/opt
/opt/vorlansoft
/var/opt" ]
}

@test "installing again replaces the installed copy and ends in the same state" {
    run ns_run '
        install_product -u EPM_NOSTART > "$K/out1" 2>&1
        wait_for 50 test -e /var/opt/vorlansoft/cresta-proxy/run/vlproxy.status
        find /etc/opt /opt -printf "%p %y %m\n" | LC_ALL=C sort > "$K/tree1"
        install_product -u EPM_NOSTART > "$K/out2" 2>&1
        echo "$?" > "$K/rc"
        wait_for 50 test -e /var/opt/vorlansoft/cresta-proxy/run/vlproxy.status
        find /etc/opt /opt -printf "%p %y %m\n" | LC_ALL=C sort > "$K/tree2"
        /etc/opt/vorlansoft/cresta-proxy/init.d/vlproxy status > /dev/null
        echo "$?" > "$K/running"
        remove_product > /dev/null 2>&1
        true
    '
    [ "$(cat "$K/rc")" = 0 ]
    grep -qx "$P: removing the installed copy first" "$K/out2"
    grep -qx "vlproxy stopped." "$K/out2"
    run grep -c 'removing the installed copy' "$K/out1"
    [ "$output" = 0 ]
    diff "$K/tree1" "$K/tree2"
    [ "$(cat "$K/running")" = 0 ]
}

@test "a failed install removes what it had installed and exits with 1" {
    run ns_run '
        # A file where the install needs a directory.
        mkdir -p /opt/vorlansoft/cresta-proxy
        echo blocker > /opt/vorlansoft/cresta-proxy/doc
        snapshot > "$K/before"
        install_product -u EPM_NOSTART > "$K/out" 2>&1
        echo "$?" > "$K/rc"
        snapshot > "$K/after"
        true
    '
    [ "$status" -eq 0 ]
    [ "$(cat "$K/rc")" = 1 ]
    grep -qx "$P: error: /opt/vorlansoft/cresta-proxy/doc exists and is not a directory" "$K/out"
    grep -qx "$P: installation failed, removing what was installed" "$K/out"
    grep -qx "$P: Vorlan Cresta Proxy removed" "$K/out"
    diff "$K/before" "$K/after"
}

@test "not enough space under /opt: the install stops before changing anything" {
    run ns_run '
        mount -t tmpfs -o size=256k vltest-small /opt
        snapshot > "$K/before"
        install_product EPM_NOSTART=y > "$K/out" 2>&1
        echo "$?" > "$K/rc"
        snapshot > "$K/after"
        true
    '
    [ "$(cat "$K/rc")" = 1 ]
    grep -qx "$P: error: not enough free space under /opt: 1024 KB needed, 256 KB available" "$K/out"
    diff "$K/before" "$K/after"
}

@test "the removal says so when the product is not installed" {
    run ns_run '
        "$K/pkg/vorlan-cresta-proxy.remove" now > "$K/out" 2>&1
        echo "$?" > "$K/rc"
        true
    '
    [ "$(cat "$K/rc")" = 1 ]
    [ "$(cat "$K/out")" = "$P: error: Vorlan Cresta Proxy is not installed (/etc/opt/vorlansoft/software/vorlan-cresta-proxy.files is missing)" ]
}

@test "the init script starts, reports, restarts and stops the installed service" {
    run ns_run '
        install_product EPM_NOSTART=y > /dev/null 2>&1
        init=/etc/opt/vorlansoft/cresta-proxy/init.d/vlproxy
        {
            $init stop; echo "rc=$?"
            $init start | sed "s/pid [0-9]*/pid N/"; echo "rc=$?"
            $init start | sed "s/pid [0-9]*/pid N/"
            $init status | sed "s/pid [0-9]*/pid N/"; echo "rc=$?"
            old=$(cat /var/opt/vorlansoft/cresta-proxy/run/vlproxy.pid)
            $init restart | sed "s/pid [0-9]*/pid N/"
            new=$(cat /var/opt/vorlansoft/cresta-proxy/run/vlproxy.pid)
            [ "$old" != "$new" ] && alive "$new" && ! alive "$old" && echo "new process"
            $init stop; echo "rc=$?"
            $init status; echo "rc=$?"
            [ -e /var/opt/vorlansoft/cresta-proxy/run/vlproxy.pid ] || echo "no pid file"
            $init reload; echo "rc=$?"
        } > "$K/out" 2>&1
        remove_product > /dev/null 2>&1
        true
    '
    [ "$status" -eq 0 ]
    [ "$(cat "$K/out")" = "vlproxy is not running.
rc=0
vlproxy started (pid N).
rc=0
vlproxy is already running (pid N).
vlproxy is running (pid N).
rc=0
vlproxy stopped.
vlproxy started (pid N).
new process
vlproxy stopped.
rc=0
vlproxy is not running.
rc=3
no pid file
usage: /etc/opt/vorlansoft/cresta-proxy/init.d/vlproxy start|stop|restart|status
rc=2" ]
}
