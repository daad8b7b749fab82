#!/usr/bin/env bats
# Server packages in rpm format, installed and upgraded with the real rpm
# in a private namespace with its own rpm database.
#
# The installer refuses an installed rpm named vorlan-cresta (the old
# packaging), so rpm upgrades are exercised with the pelago flavour.

load helpers

setup_file() {
    server_setup_file rpm
}

P="$PKGS/rpm"

@test "rpm: fresh quiet install of cresta" {
    rpm_base
    prepare_work rpm C "$P/vorlan-cresta-new.rpm"
    run_installer --quiet
    expect_fresh_quiet_install
    [ "$(installed_version rpm vorlan-cresta)" = "1:10.0.0-1" ]
    [ "$(head -n 1 "$R$ETC/vlsrvd.conf")" = '<?xml version="1.0"?>' ]
    printf '/var/tmp/vlsrv\n' | cmp - "$R$ETC/backup-dir"
    printf -- '-\n-\n-\n%s\n' "$PASSWORD" | cmp - "$R$ETC/initdb"
    expect_no_handover_left
}

@test "rpm: upgrade with the extra package installed, answered yes" {
    rpm_base
    install_pkg "$P/vorlan-pelago-old.rpm"
    install_pkg "$P/vorlan-cresta-extra-old.rpm"
    make_add_confs
    ns_run "mkdir -p /var/tmp/vlsrv && echo stale > /var/tmp/vlsrv/stale-backup"
    prepare_work rpm P "$P/vorlan-pelago-new.rpm"
    INPUT='yes\nyes\n\n' run_installer
    expect_status 0
    expect_file "$WORK.script" "$(extra_upgrade_output pelago)"$'\n'
    not installed rpm vorlan-cresta-extra
    [ "$(installed_version rpm vorlan-pelago)" = "1:10.0.0-1" ]
    [ "$(ls "$R/var/tmp/vlsrv")" = vlsrvd.conf ]
    grep -q 'version="9.0.0"' "$R/var/tmp/vlsrv/vlsrvd.conf"
    [ "$(record restored)" = yes ]
    grep -q 'version="9.0.0"' "$R$ETC/vlsrvd.conf"
    expect_add_confs_restored
    [ -z "$(ls -d "$R"/tmp/tmp.* 2>/dev/null)" ]
    expect_no_handover_left
}

@test "rpm: upgrade with the extra package installed, answered no, removes nothing" {
    rpm_base
    install_pkg "$P/vorlan-pelago-old.rpm"
    install_pkg "$P/vorlan-cresta-extra-old.rpm"
    make_add_confs
    ns_run "mkdir -p /var/tmp/vlsrv && echo stale > /var/tmp/vlsrv/stale-backup"
    prepare_work rpm P "$P/vorlan-pelago-new.rpm"
    INPUT='yes\nno\n' run_installer
    expect_status 1
    expect_file "$WORK.script" "$(head_lines ask)
$(backup_lines)
=== Removing the pelago package currently installed.
$EXTRA_QUESTION no
$FAILED"$'\n'
    installed rpm vorlan-cresta-extra
    [ "$(installed_version rpm vorlan-pelago)" = "(none):9.0.0-1" ]
    [ "$(cat "$R/var/tmp/vlsrv/stale-backup")" = stale ]
    # The copies of the additional configuration files stay in /tmp.
    tmpdir=$(conf_tmp_dir)
    [ -n "$tmpdir" ]
    add_confs_in "$R$tmpdir" | cmp - "$R/tmp/add-confs.content"
    [ ! -e "$R$BDIR_FILE" ]
    [ ! -e "$R$INITDB_FILE" ]
}

@test "rpm: quiet upgrade removes the extra package without asking" {
    rpm_base
    install_pkg "$P/vorlan-pelago-new.rpm"
    install_pkg "$P/vorlan-cresta-extra-new.rpm"
    make_add_confs
    prepare_work rpm P "$P/vorlan-pelago-new.rpm"
    run_installer --quiet
    expect_status 0
    expect_file "$WORK.script" "$(head_lines quiet)
$(backup_lines)
=== Removing the pelago package currently installed.
$(restore_lines)
$COMPLETED"$'\n'
    not installed rpm vorlan-cresta-extra
    [ "$(record backup-dir)" = /var/tmp/vlsrv ]
    [ "$(record restored)" = yes ]
    expect_add_confs_restored
}

@test "rpm: warnings about files already deleted are not shown" {
    rpm_base
    install_pkg "$P/vorlan-cresta-extra-old.rpm"
    # rpm really warns when a packaged file has gone.
    ns_run "rm /opt/vlsrv-extra/README; LANG=C rpm -e vorlan-cresta-extra 2>&1" \
        > "$BATS_TEST_TMPDIR/direct"
    grep -Eq '^warning: .*No such file or directory$' "$BATS_TEST_TMPDIR/direct"

    install_pkg "$P/vorlan-pelago-old.rpm"
    install_pkg "$P/vorlan-cresta-extra-old.rpm"
    make_add_confs
    ns_run "rm /opt/vlsrv-extra/README /opt/vlsrv/bin/vlsrv.sh"
    prepare_work rpm P "$P/vorlan-pelago-new.rpm"
    run_installer --quiet
    expect_status 0
    expect_file "$WORK.script" "$(head_lines quiet)
$(backup_lines)
=== Removing the pelago package currently installed.
$(restore_lines)
$COMPLETED"$'\n'
    not grep -q 'warning:' "$WORK.out" "$WORK.err"
    not installed rpm vorlan-cresta-extra
    [ "$(installed_version rpm vorlan-pelago)" = "1:10.0.0-1" ]
}

@test "rpm: a failing removal fails the installation" {
    rpm_base
    install_pkg "$P/vorlan-pelago-old.rpm"
    make_add_confs
    fault remove-fail
    prepare_work rpm P "$P/vorlan-pelago-new.rpm"
    run_installer --quiet
    expect_status 1
    grep -Eq '^error: %preun\(vorlan-pelago-9\.0\.0-1\.noarch\) scriptlet failed' "$WORK.out"
    grep -q 'the server refuses to stop' "$WORK.out"
    grep -Ev '^(error: |vlsrv-setup: )' "$WORK.script" > "$WORK.script.own"
    mv "$WORK.script.own" "$WORK.script"
    expect_file "$WORK.script" "$(head_lines quiet)
$(backup_lines)
$FAILED"$'\n'
    [ "$(installed_version rpm vorlan-pelago)" = "(none):9.0.0-1" ]
    [ ! -e "$R$BDIR_FILE" ]
}

@test "rpm: a failed %post that rpm reports as success is caught by the verification" {
    rpm_base
    fault install-fail
    prepare_work rpm C "$P/vorlan-cresta-new.rpm"
    run_installer --quiet
    expect_status 1
    # rpm itself went through: the package is registered.
    installed rpm vorlan-cresta
    grep -q 'warning: %post(vorlan-cresta-1:10.0.0-1.noarch) scriptlet failed' "$WORK.out" "$WORK.err"
    grep -q 'error: %verify(vorlan-cresta-1:10.0.0-1.noarch) scriptlet failed' "$WORK.err"
    [ "$(tail -n 2 "$WORK.out")" = "$FAILED" ]
    [ ! -e "$R$ETC/vlsrvd.conf" ]
    [ ! -e "$R$INITDB_FILE" ]
}

@test "rpm: installer images of both launchers upgrade the server" {
    rpm_base
    for launcher in "$LAUNCHER_X86_64" "$LAUNCHER_I386"; do
        ns_run "rpm -e vorlan-pelago > /dev/null 2>&1; rm -rf /var/opt/vlsrv /var/tmp/vlsrv"
        install_pkg "$P/vorlan-pelago-old.rpm"
        make_add_confs
        prepare_work rpm P "$P/vorlan-pelago-new.rpm"
        INPUT='yes\n\n' run_image "$launcher"
        expect_status 0
        expect_file "$WORK.script" "$LAUNCHER_LINES
$(head_lines ask)
$(backup_lines)
$(backup_question /var/tmp/vlsrv)
$(restore_lines)
$COMPLETED"$'\n'
        [ "$(installed_version rpm vorlan-pelago)" = "1:10.0.0-1" ]
        expect_add_confs_restored
    done
}

@test "rpm: the host's package databases and /opt are unchanged" {
    expect_host_unchanged
}
