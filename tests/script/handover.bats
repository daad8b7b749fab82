#!/usr/bin/env bats
# Hand-over files at their fixed paths in /tmp: whatever was planted there
# first is replaced, never written through, and the package always sees a
# root-owned regular file with mode 0600.

# Shell code for the namespace is single-quoted so that it expands there
# (SC2016); settings such as STATUS are read by helpers.bash (SC2034).
# shellcheck disable=SC2016,SC2034

load helpers

CERT=/tmp/vlsrv-certificate-path
BDIR=/tmp/vlsrv-backup-dir
INITDB=/tmp/vlsrv-initdb-file

# Victims of planted links: a file of an ordinary user and a root-owned
# stand-in for /etc/shadow.  post.sh records their state afterwards.
plant_victims() {
    pre_ns 'printf "nobody data\n" > /var/tmp/victim; chown nobody:nogroup /var/tmp/victim; chmod 0644 /var/tmp/victim'
    pre_ns 'cp /etc/shadow /var/tmp/shadow; chown root:shadow /var/tmp/shadow; chmod 0640 /var/tmp/shadow'
    pre_ns 'stat -c "%n %F %U %G %a %s" /var/tmp/victim /var/tmp/shadow > "$PWD/victims.before"'
    pre_ns 'cat /var/tmp/victim /var/tmp/shadow | md5sum >> "$PWD/victims.before"'
    post_ns 'stat -c "%n %F %U %G %a %s" /var/tmp/victim /var/tmp/shadow > victims.after'
    post_ns 'cat /var/tmp/victim /var/tmp/shadow | md5sum >> victims.after'
    post_ns 'ls -A /tmp > tmp.state'
}

expect_victims_intact() {
    [ -s victims.before ]
    diff -u victims.before victims.after
}

# No temporary file of the hand-over writes is left behind.
expect_no_strays() {
    not grep -q '^\.vlsrv-handover\.' tmp.state
}

@test "links at the certificate path are replaced, not written through" {
    make_proxy_package 0
    printf 'CERT\n' > cert.pem
    for target in /var/tmp/victim /var/tmp/shadow; do
        rm -f pre.sh post.sh handover.log seen.*
        plant_victims
        pre_ns "ln -s $target $CERT"
        INPUT="yes\n$W/cert.pem\n" run_install
        expect_status 0
        expect_victims_intact
        expect_file handover.log "vorlan-cresta-proxy: $CERT regular file 0 0 600
"
        expect_file seen.vlsrv-certificate-path "$W/cert.pem
"
        expect_no_strays
    done
}

@test "a hard link at the certificate path is replaced, not written through" {
    make_proxy_package 0
    # A hard link needs the same file system: the victim lives in /tmp.
    pre_ns "cp /etc/shadow /tmp/shadow.copy; chmod 0640 /tmp/shadow.copy; ln /tmp/shadow.copy $CERT"
    pre_ns 'stat -c "%h %U %a %s" /tmp/shadow.copy > "$PWD/victim.before"; md5sum < /tmp/shadow.copy >> "$PWD/victim.before"'
    post_ns 'stat -c "%h %U %a %s" /tmp/shadow.copy > victim.after; md5sum < /tmp/shadow.copy >> victim.after'
    INPUT='yes\n\n' run_install
    expect_status 0
    # One link less: the path now names a file of its own.
    [ "$(sed -n 1p victim.before | cut -d' ' -f1)" = 2 ]
    diff <(sed 1s/^2/1/ victim.before) victim.after
    expect_file handover.log "vorlan-cresta-proxy: $CERT regular empty file 0 0 600
"
}

@test "a file of another user at the certificate path is replaced" {
    make_proxy_package 0
    pre_ns "printf 'planted\n' > $CERT; chown nobody:nogroup $CERT; chmod 0666 $CERT"
    post_ns "stat -c '%F %u %g %a' $CERT > cert.state; cat $CERT >> cert.state"
    INPUT='yes\n\n' run_install
    expect_status 0
    expect_file handover.log "vorlan-cresta-proxy: $CERT regular empty file 0 0 600
"
    expect_file seen.vlsrv-certificate-path ''
    # The package did not consume it, so it is still there as written.
    expect_file cert.state 'regular empty file 0 0 600
'
}

@test "dangling link and link to a directory at the certificate path" {
    make_proxy_package 0
    pre_ns "mkdir /var/tmp/dir; ln -s /var/tmp/dir $CERT"
    pre_ns "ln -s /var/tmp/created-through-link /tmp/vlsrv-backup-dir"
    # What /var/tmp holds besides dir depends on where TMPDIR put $W.
    pre_ns 'ls -A /var/tmp > "$PWD/vartmp.before"'
    post_ns 'ls -A /var/tmp > vartmp.state; ls -A /var/tmp/dir > dir.state'
    INPUT='yes\n\n' run_install
    expect_status 0
    expect_file handover.log "vorlan-cresta-proxy: $CERT regular empty file 0 0 600
vorlan-cresta-proxy: /tmp/vlsrv-backup-dir symbolic link 0 0 777
"
    expect_file dir.state ''
    diff -u vartmp.before vartmp.state
}

@test "a directory at the certificate path fails the installation, untouched" {
    make_proxy_package 0
    pre_ns "mkdir $CERT"
    post_ns "stat -c %F $CERT > cert.state; ls -A $CERT >> cert.state; ls -A /tmp > tmp.state"
    INPUT='yes\n\n' run_install
    expect_file "$W/out" "$EULA_TEXT
${ACCEPT_PROMPT}yes
\"$CERT\" is not a regular file.

Installation failed.
"
    expect_status 1
    expect_file cert.state 'directory
'
    [ ! -e install.log ]
    expect_no_strays
}

@test "server: links at the backup-directory and initdb paths are replaced" {
    set_default SERVER_PACKAGE yes
    make_package vorlan-cresta-1100.tar.gz vorlan-cresta 0
    plant_victims
    pre_ns "ln -s /var/tmp/victim $BDIR; ln -s /var/tmp/shadow $INITDB"
    run_install --quiet
    expect_status 0
    expect_victims_intact
    expect_file handover.log "vorlan-cresta: $BDIR regular file 0 0 600
vorlan-cresta: $INITDB regular file 0 0 600
"
    expect_file seen.vlsrv-backup-dir '/var/tmp/vlsrv
'
    [ "$(wc -l < seen.vlsrv-initdb-file)" -eq 4 ]
    # The initdb file was removed after use, the backup-dir file stays.
    not grep -qx vlsrv-initdb-file tmp.state
    grep -qx vlsrv-backup-dir tmp.state
    expect_no_strays
}

@test "server: files of another user at the server hand-over paths are replaced" {
    set_default SERVER_PACKAGE yes
    make_package vorlan-cresta-1100.tar.gz vorlan-cresta 0
    pre_ns "for f in $BDIR $INITDB; do echo planted > \$f; chown nobody:nogroup \$f; chmod 0666 \$f; done"
    post_ns "stat -c '%F %u %g %a' $BDIR > bdir.state; cat $BDIR >> bdir.state"
    INPUT='yes\n0\n' run_install
    expect_status 0
    expect_file handover.log "vorlan-cresta: $BDIR regular file 0 0 600
vorlan-cresta: $INITDB regular file 0 0 600
"
    expect_file bdir.state 'regular file 0 0 600

'
    grep -q '^Automatically generated administrator password is [A-Za-z0-9]\{10\}$' out
}

@test "a planted initdb link is not shown as the password" {
    # The package itself puts a link there after the script wrote the file;
    # the password shown must not come from the link's target.
    set_default SERVER_PACKAGE yes
    make_package vorlan-cresta-1100.tar.gz vorlan-cresta 0 "rm -f $INITDB; ln -s /var/tmp/shadow $INITDB"
    plant_victims
    run_install --quiet
    expect_status 0
    expect_victims_intact
    grep -qx 'Cannot find database initialization file, try to use default password (kelp).' out
}
