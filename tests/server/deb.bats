#!/usr/bin/env bats
# Server packages in deb format, installed and upgraded with the real dpkg
# in a private namespace.
#
# The installer refuses any "vorlan-cresta*" deb that dpkg lists as
# installed (the old packaging), so deb upgrades are exercised with the
# pelago flavour.

load helpers

setup_file() {
    server_setup_file deb
}

D="$PKGS/deb"

@test "deb: fresh quiet install of cresta" {
    prepare_work deb C "$D/vorlan-cresta-new.deb"
    run_installer --quiet
    expect_fresh_quiet_install
    [ "$(installed_version deb vorlan-cresta)" = "1:10.0.0-1" ]
    [ -x "$R/opt/vlsrv/bin/vlsrv.sh" ]
    [ -x "$R/etc/opt/vorlansoft/software/init.d/vlsrvd" ]
    [ "$(head -n 1 "$R$ETC/vlsrvd.conf")" = '<?xml version="1.0"?>' ]
    # What the package's install step was handed.
    [ "$(record backup-dir-file)" = accepted ]
    [ "$(record backup-dir)" = /var/tmp/vlsrv ]
    [ "$(record initdb-file)" = accepted ]
    [ "$(record restored)" = no ]
    printf '/var/tmp/vlsrv\n' | cmp - "$R$ETC/backup-dir"
    printf -- '-\n-\n-\n%s\n' "$PASSWORD" | cmp - "$R$ETC/initdb"
    expect_no_handover_left
}

@test "deb: upgrade from 9.0.0-1 keeps and restores the backup in HOME" {
    install_pkg "$D/vorlan-pelago-old.deb"
    [ "$(installed_version deb vorlan-pelago)" = "9.0.0-1" ]
    make_add_confs
    ns_run "mkdir -p $NS_HOME/vlsrv /var/tmp/vlsrv
        echo older > $NS_HOME/vlsrv/older-backup
        echo other > /var/tmp/vlsrv/other-backup"
    prepare_work deb P "$D/vorlan-pelago-new.deb"
    INPUT='yes\n\n' run_installer
    expect_status 0
    expect_file "$WORK.script" "$(head_lines ask)
$(backup_lines)
$(backup_question "$NS_HOME/vlsrv")
$(restore_lines)
$COMPLETED"$'\n'
    [ "$(installed_version deb vorlan-pelago)" = "1:10.0.0-1" ]
    # The old package's removal left its backup in HOME, nothing cleared
    # it, and the new package restored from there.
    [ "$(cat "$R$NS_HOME/vlsrv/older-backup")" = older ]
    grep -q 'version="9.0.0"' "$R$NS_HOME/vlsrv/vlsrvd.conf"
    [ "$(record backup-dir)" = "$NS_HOME/vlsrv" ]
    [ "$(record restored)" = yes ]
    grep -q 'version="9.0.0"' "$R$ETC/vlsrvd.conf"
    [ "$(record initdb-file)" = absent ]
    [ "$(cat "$R/var/tmp/vlsrv/other-backup")" = other ]
    expect_add_confs_restored
    # The old package was purged, not just removed: dpkg lists none of its
    # configuration files any more and they are gone from the disk.
    conffiles=$(ns_run "dpkg-query -W -f='\${Conffiles}' vorlan-pelago")
    [[ $conffiles == *" /etc/opt/vorlansoft/software/vlsrvd-10.0.0.conf "* ]]
    [[ $conffiles != *vlsrvd-9.0.0.conf* ]]
    [ ! -e "$R/etc/opt/vorlansoft/software/vlsrvd-9.0.0.conf" ]
    [ -z "$(ls -d "$R"/tmp/tmp.* 2>/dev/null)" ]
    expect_no_handover_left
}

@test "deb: upgrade from 1:10.0.0-1 clears the default backup directory first" {
    install_pkg "$D/vorlan-pelago-new.deb"
    make_add_confs
    ns_run "echo stale > /var/tmp/vlsrv/stale-backup
        echo mine > $ETC/vlsrvd.conf.mark"
    prepare_work deb P "$D/vorlan-pelago-new.deb"
    INPUT='yes\n\n' run_installer
    expect_status 0
    expect_file "$WORK.script" "$(head_lines ask)
$(backup_lines)
$(backup_question /var/tmp/vlsrv)
$(restore_lines)
$COMPLETED"$'\n'
    [ ! -e "$R/var/tmp/vlsrv/stale-backup" ]
    [ "$(ls "$R/var/tmp/vlsrv")" = vlsrvd.conf ]
    [ "$(record backup-dir)" = /var/tmp/vlsrv ]
    [ "$(record restored)" = yes ]
    [ "$(record epm-nostart)" = y ]
    expect_add_confs_restored
}

@test "deb: --clean upgrade hands over no backup and prints the password" {
    install_pkg "$D/vorlan-pelago-new.deb"
    make_add_confs
    prepare_work deb P "$D/vorlan-pelago-new.deb"
    INPUT='yes\n' run_installer --clean
    expect_status 0
    PASSWORD=$(record password)
    expect_password "$PASSWORD"
    expect_file "$WORK.script" "$(head_lines ask)
$(backup_lines)
$(password_lines "$PASSWORD")

$COMPLETED"$'\n'
    printf '\n' | cmp - "$R$ETC/backup-dir"
    printf -- '-\n-\n-\n%s\n' "$PASSWORD" | cmp - "$R$ETC/initdb"
    [ "$(record restored)" = no ]
    expect_add_confs_absent
    [ -z "$(ls -d "$R"/tmp/tmp.* 2>/dev/null)" ]
    expect_no_handover_left
}

@test "deb: an installed vorlan-cresta or extra deb counts as the old packaging" {
    install_pkg "$D/vorlan-cresta-extra-new.deb"
    prepare_work deb P "$D/vorlan-pelago-new.deb"
    INPUT='yes\nyes\n\n' run_installer
    expect_status 1
    expect_file "$WORK.script" "Please uninstall previous version of Vorlan Server first. Installation aborted."$'\n'
    installed deb vorlan-cresta-extra
    not installed deb vorlan-pelago
}

@test "deb: a failing postinst fails the installation and removes the password file" {
    install_pkg "$D/vorlan-pelago-new.deb"
    fault install-fail
    prepare_work deb P "$D/vorlan-pelago-new.deb"
    run_installer --quiet --clean
    expect_status 1
    expect_file "$WORK.script" "$(head_lines quiet)
$(backup_lines)
$FAILED"$'\n'
    grep -q 'cannot initialise the server database' "$WORK.err"
    [ ! -e "$R$INITDB_FILE" ]
    # The conf copies stay for the administrator.
    tmpdir=$(conf_tmp_dir)
    [ -d "$R$tmpdir" ]
}

@test "deb: a failing removal of the installed server fails the installation" {
    install_pkg "$D/vorlan-pelago-new.deb"
    fault remove-fail
    prepare_work deb P "$D/vorlan-pelago-new.deb"
    run_installer --quiet
    expect_status 1
    expect_file "$WORK.script" "$(head_lines quiet)
$(backup_lines)
$FAILED"$'\n'
    installed deb vorlan-pelago
    [ ! -e "$R$BDIR_FILE" ]
}

@test "deb: installer images of both launchers install the server" {
    for launcher in "$LAUNCHER_X86_64" "$LAUNCHER_I386"; do
        ns_run "dpkg -P vorlan-cresta > /dev/null 2>&1; rm -rf /var/opt/vlsrv /var/tmp/vlsrv"
        prepare_work deb C "$D/vorlan-cresta-new.deb"
        run_image "$launcher" --quiet
        expect_status 0
        grep -qx 'Installation completed.' "$WORK.out"
        grep -qx "$STARTED" "$WORK.out"
        PASSWORD=$(record password)
        expect_password "$PASSWORD"
        grep -qx "Automatically generated administrator password is $PASSWORD" "$WORK.out"
        [ "$(installed_version deb vorlan-cresta)" = "1:10.0.0-1" ]
        [ -d "$R/tmp/run/server-setup.run.dir" ]
    done
}

@test "deb: the host's package databases and /opt are unchanged" {
    expect_host_unchanged
}
