#!/usr/bin/env bats
# Package installation: the non-server tar.gz payload, server packages in
# tar.gz format (fresh install and upgrade), the closing lines.

# Shell code for the namespace is single-quoted so that it expands there
# (SC2016); settings such as STATUS are read by helpers.bash (SC2034).
# shellcheck disable=SC2016,SC2034

load helpers

INSTALLED_OK="$PROXY_INSTALLED"

# ---------------------------------------------------------------- non-server

@test "non-server: closing lines and status for success and failure" {
    make_proxy_package 0
    run_install --quiet
    expect_file "$W/out" "$EULA_TEXT
${CERT_PROMPT}${INSTALLED_OK}"
    expect_status 0
    expect_file install.log 'vorlan-cresta-proxy now
EPM_NOSTART=unset
'
    # The package was unpacked into the working directory.
    [ -x vorlan-cresta-proxy.install ]
    [ -f vorlan-cresta-proxy.sw ]
    make_proxy_package 3
    run_install --quiet
    expect_file "$W/out" "$EULA_TEXT
${CERT_PROMPT}Package installation started, please wait...
vorlan-cresta-proxy ran with: now

Installation failed.
"
    expect_status 1
}

@test "non-server: every *.install runs in name order, the first failure stops" {
    mkdir two
    write_install_script two/alpha.install alpha 0
    write_install_script two/beta.install beta 0
    tar -C two -czf product.tar.gz alpha.install beta.install
    run_install --quiet
    expect_status 0
    expect_file install.log 'alpha now
EPM_NOSTART=unset
beta now
EPM_NOSTART=unset
'
    grep -qx 'alpha ran with: now' out
    grep -qx 'beta ran with: now' out
    write_install_script two/alpha.install alpha 1
    tar -C two -czf product.tar.gz alpha.install beta.install
    rm -f install.log alpha.install beta.install
    run_install --quiet
    expect_status 1
    expect_file install.log 'alpha now
EPM_NOSTART=unset
'
    [ "$(tail -n 2 out)" = "$(printf '\nInstallation failed.')" ]
}

@test "non-server: no *.tar.gz, or a broken one, fails the installation" {
    run_install --quiet
    expect_status 1
    grep -qx ': Package installation started, please wait...' out
    grep -q '^tar: .*No such file' out
    [ "$(tail -n 2 out)" = "$(printf '\nInstallation failed.')" ]
    # tar's complaint reaches standard output.
    printf 'not a tar file\n' > broken.tar.gz
    run_install --quiet
    expect_status 1
    grep -q '^tar: ' out
    [ "$(tail -n 2 out)" = "$(printf '\nInstallation failed.')" ]
}

@test "non-server: tar's lone zero block note is dropped, other output kept" {
    make_proxy_package 0
    # Rebuild the package as an archive that ends in a single zero block:
    # each member is a header block and its data rounded up to whole blocks.
    local size=0 f
    for f in vorlan-cresta-proxy.install vorlan-cresta-proxy.sw; do
        size=$((size + 512 + ($(stat -c %s "$BATS_TEST_TMPDIR/pkg.vorlan-cresta-proxy/$f") + 511) / 512 * 512))
    done
    gzip -dc vorlan-cresta-proxy-1100-201805310-linux-x86_64.tar.gz > plain.tar
    { head -c "$size" plain.tar; head -c 512 /dev/zero; } | gzip > vorlan-cresta-proxy-1100-201805310-linux-x86_64.tar.gz
    rm plain.tar
    # The real tar does complain about this archive.
    (mkdir probe && cd probe && LANG=C tar xf ../vorlan-cresta-proxy-1100-201805310-linux-x86_64.tar.gz 2>&1) |
        grep -q 'A lone zero block at'
    rm -r probe
    run_install --quiet
    expect_file "$W/out" "$EULA_TEXT
${CERT_PROMPT}${INSTALLED_OK}"
    expect_status 0
}

@test "unknown package format: message without the failure lines" {
    make_proxy_package 0
    set_default UNIX_PACK_FMT zip
    run_install --quiet
    expect_file "$W/out" "$EULA_TEXT
${CERT_PROMPT}Package installation started, please wait...
Unknown package format \"zip\".
"
    expect_status 1
    [ ! -e install.log ]
}

@test "bash --posix runs the representative paths the same way" {
    SCRIPT_SHELL="bash --posix"
    make_proxy_package 0
    run_install --bogus;   expect_refused 'Unknown key "--bogus"'
    run_install --preseed rel; expect_refused 'Specify absolute path to configuration file instead "rel"'
    run_install;           expect_checks_passed
    INPUT='yEs\nyes\n\n' run_install
    expect_file "$W/out" "$EULA_TEXT
${ACCEPT_PROMPT}Please enter yes or no.
${ACCEPT_PROMPT}yes
${CERT_PROMPT}${INSTALLED_OK}"
    expect_status 0
    printf 'CERT\n' > cert.pem
    rm -f handover.log
    INPUT="$W/cert.pem\n" run_install --quiet
    expect_status 0
    expect_file seen.vlsrv-certificate-path "$W/cert.pem
"
    expect_file handover.log 'vorlan-cresta-proxy: /tmp/vlsrv-certificate-path regular file 0 0 600
'
    uname_machine=i686
    stub uname "case \$1 in -m) echo $uname_machine ;; *) echo Linux ;; esac"
    run_install; expect_refused 'Cannot install 64-bit version of Vorlan Server on a 32-bit operating system.'
}

# -------------------------------------------------------------------- server

SERVER_PKG=vorlan-cresta-1100-201805310-linux-x86_64.tar.gz

# Requirement lines of the fixture server install script.
REQ_LINES='for req in "/opt 100" "/tmp 1"; do :; done
  for req in "/usr 5"; do :; done'

# make_server_package STATUS [EXTRA]
make_server_package() {
    make_package "$SERVER_PKG" vorlan-cresta "$1" "$REQ_LINES
${2-}"
}

# server_payload: defaults of a server payload with its package.
server_payload() {
    set_default SERVER_PACKAGE yes
    set_default MAKESELF_DIR "$SERVER_PKG.dir"
    make_server_package "${1:-0}" "${2-}"
}

# installed_server [extra]: an installed server (and extra package) in the
# namespace.  The removal script takes the server's own configuration away
# and leaves its backup in the default backup directory.
installed_server() {
    mkdir -p fx
    write_install_script fx/vorlan-cresta.remove vorlan-cresta.remove "${REMOVE_STATUS:-0}" \
        'rm -f /var/opt/vlsrv/etc/auth-*.conf "$0"
mkdir -p /var/tmp/vlsrv && echo settings > /var/tmp/vlsrv/settings.bak'
    pre_ns 'mkdir -p /etc/opt/vorlansoft/software /var/opt/vlsrv/etc /var/tmp/vlsrv'
    pre_ns "cp '$W/fx/vorlan-cresta.remove' /etc/opt/vorlansoft/software/"
    pre_ns 'echo ldap > /var/opt/vlsrv/etc/auth-ldap.conf; chmod 0640 /var/opt/vlsrv/etc/auth-ldap.conf'
    pre_ns 'echo ads > /var/opt/vlsrv/etc/auth-ads.conf'
    pre_ns 'echo old > /var/tmp/vlsrv/old-junk'
    if [ "${1-}" = extra ]; then
        write_install_script fx/vorlan-cresta-extra.remove vorlan-cresta-extra.remove 0 'rm -f "$0"'
        pre_ns "cp '$W/fx/vorlan-cresta-extra.remove' /etc/opt/vorlansoft/software/"
    fi
    post_ns 'cd /var/opt/vlsrv/etc && for f in *; do [ -e "$f" ] || continue; printf "%s %s %s\n" "$f" "$(stat -c %a "$f")" "$(cat "$f")"; done > "$OLDPWD/etc.state"'
    post_ns 'cd "$OLDPWD"; ls -A /var/tmp/vlsrv > backup.state 2>&1; ls -A /etc/opt/vorlansoft/software > software.state'
    post_ns 'ls -d /tmp/tmp.* > tmpdirs.state 2>/dev/null; ls -A /tmp > tmp.state'
    post_ns 'for d in /tmp/tmp.*; do [ -d "$d" ] && ls -A "$d"; done > tmpcopies.state'
}

# conf_tmp_dir: the temporary directory named in the Backup lines.
conf_tmp_dir() {
    sed -n 's|^Backup "/var/opt/vlsrv/etc/auth-ldap.conf" --> "\(.*\)/auth-ldap.conf"$|\1|p' out
}

# backup_lines DIR / restore_lines DIR
backup_lines() {
    printf '=== Backing up additional configuration files.\n'
    for n in auth-ldap.conf auth-radius.conf auth-ads.conf; do
        printf 'Backup "/var/opt/vlsrv/etc/%s" --> "%s/%s"\n' "$n" "$1" "$n"
    done
}
restore_lines() {
    printf '=== Restoring additional configuration files.\n'
    for n in auth-ldap.conf auth-radius.conf auth-ads.conf; do
        printf 'Restore "%s/%s" --> "/var/opt/vlsrv/etc/%s"\n' "$1" "$n" "$n"
    done
}

BACKUP_QUESTION='
To use settings from the previous installation, set the path to the backup.
To use the backup from the default path (/var/tmp/vlsrv), press Enter.
To install the Server with default settings not using backup ones, enter 0.

: '

# expect_password: the initdb file the package saw has three "-" lines and
# a 10-character password, printed at the end; the file is gone afterwards.
expect_password() {
    [ "$(sed -n 1,3p seen.vlsrv-initdb-file)" = "$(printf -- '-\n-\n-')" ]
    [ "$(wc -l < seen.vlsrv-initdb-file)" -eq 4 ]
    pass=$(sed -n 4p seen.vlsrv-initdb-file)
    [[ "$pass" =~ ^[A-Za-z0-9]{10}$ ]]
    [ "$(tail -n 4 out)" = "$(printf 'Automatically generated administrator password is %s\n\n\nInstallation completed.' "$pass")" ]
    not grep -q vlsrv-initdb-file tmp.state
}

@test "server: fresh install asks for the backup, hands it over, prints the password" {
    server_payload
    post_ns 'ls -A /tmp > tmp.state'
    INPUT='yes\n\n' run_install
    expect_file "$W/out" "$EULA_TEXT
${ACCEPT_PROMPT}yes
Package installation started, please wait...
${BACKUP_QUESTION}vorlan-cresta ran with: now

Automatically generated administrator password is $(sed -n 4p seen.vlsrv-initdb-file)


Installation completed.
"
    expect_status 0
    expect_password
    expect_file seen.vlsrv-backup-dir '/var/tmp/vlsrv
'
    expect_file handover.log 'vorlan-cresta: /tmp/vlsrv-backup-dir regular file 0 0 600
vorlan-cresta: /tmp/vlsrv-initdb-file regular file 0 0 600
'
    # No certificate question and no certificate file for a server.
    not grep -q certificate out
    # The /var requirement comes first on the unindented line only.
    grep -qxF 'for req in "/var 204800" "/opt 100" "/tmp 1"; do :; done' vorlan-cresta.install
    grep -qxF '  for req in "/usr 5"; do :; done' vorlan-cresta.install
    [ "$(grep -c 'for req in' vorlan-cresta.install)" -eq 2 ]
    [ -x vorlan-cresta.install ]
    [ ! -e vorlan-cresta.install.new ]
}

@test "server: two runs draw different passwords" {
    server_payload
    run_install --quiet
    cp seen.vlsrv-initdb-file first
    run_install --quiet
    expect_status 0
    not cmp -s first seen.vlsrv-initdb-file
}

@test "server: quiet upgrade removes the extra package without asking" {
    server_payload
    installed_server extra
    run_install --quiet
    t=$(conf_tmp_dir)
    [[ "$t" =~ ^/tmp/tmp\.[A-Za-z0-9]{10}$ ]]
    expect_file "$W/out" "$EULA_TEXT
Package installation started, please wait...
$(backup_lines "$t")
=== Removing the cresta package currently installed.
vorlan-cresta-extra.remove ran with: now
vorlan-cresta.remove ran with: now
vorlan-cresta ran with: now
$(restore_lines "$t")

Installation completed.
"
    expect_status 0
    expect_file install.log 'vorlan-cresta-extra.remove now
EPM_NOSTART=unset
vorlan-cresta.remove now
EPM_NOSTART=unset
vorlan-cresta now
EPM_NOSTART=unset
'
    # The default backup directory holds only the removal's backup.
    expect_file backup.state 'settings.bak
'
    expect_file seen.vlsrv-backup-dir '/var/tmp/vlsrv
'
    # Configuration files put back with their modes; copies removed.
    expect_file etc.state 'auth-ads.conf 644 ads
auth-ldap.conf 640 ldap
'
    [ ! -s tmpdirs.state ]
    [ ! -e seen.vlsrv-initdb-file ]
}

@test "server: interactive upgrade, extra package question answered no" {
    server_payload
    installed_server extra
    INPUT='yes\nno\n' run_install
    t=$(conf_tmp_dir)
    expect_file "$W/out" "$EULA_TEXT
${ACCEPT_PROMPT}yes
Package installation started, please wait...
$(backup_lines "$t")
=== Removing the cresta package currently installed.

Please note, the currently installed Vorlan Server extra package will be
removed during Vorlan Server upgrade process. Continue? (yes/NO) no

Installation failed.
"
    expect_status 1
    [ ! -e install.log ]
    expect_file software.state 'vorlan-cresta-extra.remove
vorlan-cresta.remove
'
    expect_file backup.state 'old-junk
'
    # The copies stay in /tmp after the failure.
    expect_file tmpdirs.state "$t
"
    expect_file tmpcopies.state 'auth-ads.conf
auth-ldap.conf
'
}

@test "server: interactive upgrade, extra package question answered yes" {
    server_payload
    installed_server extra
    INPUT='yes\nyes\n\n' run_install
    t=$(conf_tmp_dir)
    expect_file "$W/out" "$EULA_TEXT
${ACCEPT_PROMPT}yes
Package installation started, please wait...
$(backup_lines "$t")
=== Removing the cresta package currently installed.

Please note, the currently installed Vorlan Server extra package will be
removed during Vorlan Server upgrade process. Continue? (yes/NO) yes
vorlan-cresta-extra.remove ran with: now
vorlan-cresta.remove ran with: now
${BACKUP_QUESTION}vorlan-cresta ran with: now
$(restore_lines "$t")

Installation completed.
"
    expect_status 0
    [ ! -s software.state ]
}

@test "server: upgrade without extra package asks nothing about it" {
    server_payload
    installed_server
    INPUT='yes\n\n' run_install
    t=$(conf_tmp_dir)
    expect_file "$W/out" "$EULA_TEXT
${ACCEPT_PROMPT}yes
Package installation started, please wait...
$(backup_lines "$t")
vorlan-cresta.remove ran with: now
${BACKUP_QUESTION}vorlan-cresta ran with: now
$(restore_lines "$t")

Installation completed.
"
    expect_status 0
}

@test "server: --clean upgrade uses no backup and prints the password" {
    server_payload
    installed_server
    post_ns 'ls -A /tmp > tmp.state'
    run_install --clean --quiet
    t=$(conf_tmp_dir)
    [ -n "$t" ]
    expect_status 0
    expect_file seen.vlsrv-backup-dir '
'
    expect_password
    not grep -q '^=== Restoring' out
    not grep -q '^Restore ' out
    # Not put back, and the copies are gone.
    [ ! -s etc.state ]
    [ ! -s tmpdirs.state ]
}

@test "server: --clean without quiet asks no backup question" {
    server_payload
    INPUT='yes\n' run_install --clean
    expect_status 0
    not grep -q 'To use settings' out
    expect_file seen.vlsrv-backup-dir '
'
}

@test "server: backup question answers" {
    server_payload
    post_ns 'ls -A /tmp > tmp.state'
    pre_ns 'mkdir -p /var/tmp/chosen'
    # An existing directory: no database initialization, no password.
    INPUT='yes\n/var/tmp/chosen\n' run_install
    expect_status 0
    expect_file seen.vlsrv-backup-dir '/var/tmp/chosen
'
    [ ! -e seen.vlsrv-initdb-file ]
    [ "$(tail -n 3 out)" = "$(printf ': vorlan-cresta ran with: now\n\nInstallation completed.')" ]
    # "0": no backup, password.
    rm -f seen.*
    INPUT='yes\n0\n' run_install
    expect_status 0
    expect_file seen.vlsrv-backup-dir '
'
    expect_password
    # A directory that does not exist: taken as typed, password.
    rm -f seen.*
    INPUT='yes\n  /no/such dir  \n' run_install
    expect_status 0
    expect_file seen.vlsrv-backup-dir '/no/such dir
'
    expect_password
    # End of input: the default, which does not exist here.
    rm -f seen.*
    INPUT='yes\n' run_install
    expect_status 0
    expect_file seen.vlsrv-backup-dir '/var/tmp/vlsrv
'
    expect_password
}

@test "server: backup directory gone by the end gives the default password line" {
    server_payload 0 'rm -rf /var/tmp/chosen'
    pre_ns 'mkdir -p /var/tmp/chosen'
    INPUT='yes\n/var/tmp/chosen\n' run_install
    expect_status 0
    [ ! -e seen.vlsrv-initdb-file ]
    [ "$(tail -n 6 out)" = "$(printf ': vorlan-cresta ran with: now\n\nCannot find database initialization file, try to use default password (kelp).\n\n\nInstallation completed.')" ]
}

@test "server: a directory at a hand-over path fails the installation" {
    server_payload
    pre_ns 'mkdir /tmp/vlsrv-backup-dir'
    post_ns 'stat -c %F /tmp/vlsrv-backup-dir > dir.state; ls -A /tmp/vlsrv-backup-dir >> dir.state'
    INPUT='yes\n' run_install
    expect_file "$W/out" "$EULA_TEXT
${ACCEPT_PROMPT}yes
Package installation started, please wait...
\"/tmp/vlsrv-backup-dir\" is not a regular file.

Installation failed.
"
    expect_status 1
    expect_file dir.state 'directory
'
    rm pre.sh post.sh
    pre_ns 'mkdir /tmp/vlsrv-initdb-file'
    INPUT='yes\n\n' run_install
    expect_status 1
    [ "$(tail -n 3 out)" = "$(printf ': "/tmp/vlsrv-initdb-file" is not a regular file.\n\nInstallation failed.')" ]
    [ ! -e install.log ]
}

@test "server: failing removal or install step fails, the initdb file is removed" {
    server_payload 1
    post_ns 'ls -A /tmp > tmp.state'
    run_install --quiet
    expect_status 1
    [ "$(tail -n 3 out)" = "$(printf 'vorlan-cresta ran with: now\n\nInstallation failed.')" ]
    [ -e seen.vlsrv-initdb-file ]
    not grep -q vlsrv-initdb-file tmp.state
    # The backup-directory file is the package's to remove.
    grep -qx vlsrv-backup-dir tmp.state
    rm -f install.log pre.sh post.sh
    server_payload 0
    REMOVE_STATUS=1 installed_server
    run_install --quiet
    expect_status 1
    [ "$(tail -n 3 out)" = "$(printf 'vorlan-cresta.remove ran with: now\n\nInstallation failed.')" ]
    expect_file install.log 'vorlan-cresta.remove now
EPM_NOSTART=unset
'
}

@test "server: rmBackupDir refuses empty and root paths" {
    server_payload
    installed_server
    # Only the physical path of the link is /.
    pre_ns 'ln -s / /var/tmp/rootlink'
    for dir in / // /. //./ /.. /./.. "" /tmp/.. /var/tmp/../.. /var/tmp/rootlink; do
        rm -f install.log
        printf 'DEFAULT_BACKUP_DIR="%s"\n' "$dir" > preseed.conf
        run_install --quiet --preseed "$W/preseed.conf"
        expect_file "$W/out" "$EULA_TEXT
Package installation started, please wait...
$(backup_lines "$(conf_tmp_dir)")
Refusing to remove backup directory \"$dir\".

Installation failed.
"
        expect_status 1
        [ ! -e install.log ]
        expect_file software.state 'vorlan-cresta.remove
'
    done
}

@test "server: rmBackupDir clears an ordinary preset backup directory" {
    server_payload
    installed_server
    pre_ns 'mkdir -p /var/tmp/custom/sub; echo x > /var/tmp/custom/sub/f'
    post_ns 'ls -A /var/tmp > vartmp.state'
    # "..." is a name, not a way up.
    pre_ns 'mkdir -p /var/tmp/...; echo x > /var/tmp/.../f'
    printf 'DEFAULT_BACKUP_DIR="/var/tmp/custom/"\n' > preseed.conf
    run_install --quiet --preseed "$W/preseed.conf"
    expect_status 0
    not grep -qx custom vartmp.state
    grep -qx ... vartmp.state
    expect_file seen.vlsrv-backup-dir '/var/tmp/custom/
'
}

@test "server: pelago flavour installs and removes its own package" {
    set_default PKF P
    set_default SERVER_PACKAGE yes
    make_package vorlan-pelago-1100.tar.gz vorlan-pelago 0 "$REQ_LINES"
    mkdir -p fx
    write_install_script fx/vorlan-pelago.remove vorlan-pelago.remove 0 'rm -f "$0"'
    write_install_script fx/vorlan-cresta-extra.remove vorlan-cresta-extra.remove 0 'rm -f "$0"'
    pre_ns "mkdir -p /etc/opt/vorlansoft/software; cp '$W'/fx/*.remove /etc/opt/vorlansoft/software/"
    run_install --quiet
    expect_status 0
    grep -qx '=== Removing the pelago package currently installed.' out
    expect_file install.log 'vorlan-cresta-extra.remove now
EPM_NOSTART=unset
vorlan-pelago.remove now
EPM_NOSTART=unset
vorlan-pelago now
EPM_NOSTART=unset
'
    grep -qxF 'for req in "/var 204800" "/opt 100" "/tmp 1"; do :; done' vorlan-pelago.install
}

# ------------------------------------------------- server, deb and rpm formats

# deb_server OLD NEW: a pelago server payload in deb format whose package of
# version NEW replaces an installed one of version OLD (real dpkg, private
# database copy).  The pelago flavour keeps the old-package check, which
# looks for cresta packages only, out of the way.
deb_server() {
    set_default PKF P
    set_default SERVER_PACKAGE yes
    set_default UNIX_PACK_FMT deb
    mkdir -p fx
    build_deb vorlan-pelago "$1" "$W/fx/old.deb"
    build_deb vorlan-pelago "$2" "$W/vorlan-pelago_new_all.deb"
    pre_ns "dpkg --log=/dev/null -i '$W/fx/old.deb' > /dev/null"
    pre_ns 'mkdir -p /var/tmp/home/vlsrv/kept /var/tmp/vlsrv/junk'
    post_ns 'dpkg-query -W vorlan-pelago > deb.state'
    post_ns 'ls -A /var/tmp/home/vlsrv /var/tmp/vlsrv > dirs.state 2>&1; ls -A /tmp > tmp.state'
    post_ns 'cp /tmp/vlsrv-backup-dir seen.vlsrv-backup-dir'
    printf 'HOME=/var/tmp/home\n' > preseed.conf
}

@test "server deb: an installed version before 10 keeps its backup in \$HOME/vlsrv" {
    deb_server 9.0.0-1 1:10.0.0-1
    NS_DPKG=1 run_install --quiet --preseed "$W/preseed.conf"
    expect_status 0
    printf 'vorlan-pelago\t1:10.0.0-1\n' | diff - deb.state
    expect_file seen.vlsrv-backup-dir '/var/tmp/home/vlsrv
'
    # Neither backup directory was cleared; the home backup is restored,
    # so no password.
    expect_file dirs.state '/var/tmp/home/vlsrv:
kept

/var/tmp/vlsrv:
junk
'
    not grep -q 'administrator password' out
    [ "$(tail -n 2 out)" = "$(printf '\nInstallation completed.')" ]
}

@test "server deb: version 1:10.0.0-1 counts as 10 or later, default backup cleared" {
    deb_server 1:10.0.0-1 1:10.0.1-1
    NS_DPKG=1 run_install --quiet --preseed "$W/preseed.conf"
    expect_status 0
    printf 'vorlan-pelago\t1:10.0.1-1\n' | diff - deb.state
    expect_file seen.vlsrv-backup-dir '/var/tmp/vlsrv
'
    grep -qx 'ls: cannot access '"'"'/var/tmp/vlsrv'"'"': No such file or directory' dirs.state
    grep -q '^Automatically generated administrator password is [A-Za-z0-9]\{10\}$' out
}

# rpm_stub: a stand-in rpm (this machine's rpm database is empty) for a
# pelago server: installed, erasing prints warnings, logs what it is asked.
rpm_stub() {
    stub rpm "
case \$1 in
    -q) exit 1 ;;
    -qi) [ \"\$2\" = vorlan-pelago ] ;;
    -e) echo \"\$*\" >> '$W/rpm.log'
        echo 'warning: /opt/vlsrv/lib/x.so: remove failed: No such file or directory' >&2
        echo 'warning: /opt/vlsrv/etc kept'
        echo 'warning: /opt/vlsrv/y: No such file or directory'
        exit ${1:-0} ;;
    -Uhv) echo \"\$*\" >> '$W/rpm.log'; echo 'Preparing...' ;;
    -V) echo \"\$*\" >> '$W/rpm.log'; exit ${2:-0} ;;
esac"
}

rpm_server() {
    set_default PKF P
    set_default SERVER_PACKAGE yes
    set_default UNIX_PACK_FMT rpm
    touch vorlan-pelago-10.0.1-1.x86_64.rpm
}

@test "server rpm: warnings about missing files are dropped, the package verified" {
    rpm_server
    rpm_stub 0 0
    run_install --quiet
    expect_status 0
    expect_file rpm.log '-e vorlan-pelago
-Uhv ./vorlan-pelago-10.0.1-1.x86_64.rpm
-V --nofiles vorlan-pelago
'
    grep -qx 'warning: /opt/vlsrv/etc kept' out
    not grep -q 'No such file or directory' out
    grep -qx 'Preparing...' out
}

@test "server rpm: a failed erase or verification fails the installation" {
    rpm_server
    rpm_stub 1 0
    run_install --quiet
    expect_status 1
    [ "$(tail -n 3 out)" = "$(printf 'warning: /opt/vlsrv/etc kept\n\nInstallation failed.')" ]
    expect_file rpm.log '-e vorlan-pelago
'
    rm rpm.log
    rpm_stub 0 1
    run_install --quiet
    expect_status 1
    [ "$(tail -n 2 out)" = "$(printf '\nInstallation failed.')" ]
    [ "$(tail -n 1 rpm.log)" = '-V --nofiles vorlan-pelago' ]
}

@test "pkg.gz: packages unpacked and added in name order, first failure stops" {
    make_proxy_package 0
    rm ./*.tar.gz
    set_default UNIX_PACK_FMT pkg.gz
    echo b | gzip > vorlan-b.pkg.gz
    echo a | gzip > vorlan-a.pkg.gz
    # Stand-ins for the SVR4 package tools, which this machine lacks.
    stub pkginfo 'exit 1'
    stub pkgadd "echo \"\$*: \$(cat \"\$2\")\" >> '$W/pkgadd.log'; echo \"added \$2\"; [ \"\$2\" != \"\${PKGADD_FAIL-}\" ]"
    run_install --quiet
    expect_status 0
    expect_file pkgadd.log '-d vorlan-a.pkg: a
-d vorlan-b.pkg: b
'
    grep -qx 'added vorlan-a.pkg' out
    [ ! -e vorlan-a.pkg.gz ]
    rm pkgadd.log
    PKGADD_FAIL=vorlan-a.pkg run_install --quiet
    expect_status 1
    expect_file pkgadd.log '-d vorlan-a.pkg: a
'
}

@test "freebsd: its own directories for the older-version check and the upgrade" {
    # Stand-in uname simulating a FreeBSD machine; /var and /usr/local are
    # private to the run so that the FreeBSD paths can be laid out.
    stub uname 'case $1 in -m) echo amd64 ;; *) echo FreeBSD ;; esac'
    set_default BUILD_PLATFORM freebsd
    set_default SERVER_PACKAGE yes
    make_package vorlan-cresta-1100.tar.gz vorlan-cresta 0
    pre_ns 'mkdir -p /usr/local/vlsrv/bin /var/vlsrv/etc; touch /usr/local/vlsrv/bin/vlsrv.sh'
    pre_ns 'echo "User vlsrv" > /var/vlsrv/etc/vlsrvd.conf'
    NS_EXTRA_TMPFS="/var /usr/local" run_install --quiet
    expect_refused "$OLD_VERSION_MSG"
    rm pre.sh
    mkdir -p fx
    write_install_script fx/vorlan-cresta.remove vorlan-cresta.remove 0 'rm -f "$0"'
    pre_ns "mkdir -p /usr/local/etc/vorlansoft/software /var/vlsrv/etc; cp '$W/fx/vorlan-cresta.remove' /usr/local/etc/vorlansoft/software/"
    pre_ns 'echo ldap > /var/vlsrv/etc/auth-ldap.conf'
    NS_EXTRA_TMPFS="/var /usr/local" run_install --quiet
    expect_status 0
    t=$(sed -n 's|^Backup "/var/vlsrv/etc/auth-ldap.conf" --> "\(.*\)/auth-ldap.conf"$|\1|p' out)
    [ -n "$t" ]
    grep -qxF "Restore \"$t/auth-radius.conf\" --> \"/var/vlsrv/etc/auth-radius.conf\"" out
    expect_file install.log 'vorlan-cresta.remove now
EPM_NOSTART=unset
vorlan-cresta now
EPM_NOSTART=unset
'
}
