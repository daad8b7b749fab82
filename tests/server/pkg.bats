#!/usr/bin/env bats
# Server packages in pkg.gz format, added and removed with test stand-ins
# for the Solaris package tools (fixtures/solaris-standins), which Debian
# cannot provide, in a private namespace.

load helpers

setup_file() {
    server_setup_file pkg
    # The namespace hides /tmp, /opt and /var/tmp, where a checkout may lie;
    # the run's temporary directory stays visible in it.
    cp -r "$STANDINS" "$BATS_RUN_TMPDIR/solaris-standins"
}

K="$PKGS/pkg"
# shellcheck disable=SC2034 # read by ns_run
NS_PATH_PREFIX="$BATS_RUN_TMPDIR/solaris-standins"

@test "pkg.gz: fresh quiet install of pelago" {
    prepare_work pkg.gz P "$K/vorlan-pelago-new.pkg.gz"
    run_installer --quiet
    expect_fresh_quiet_install
    installed pkg.gz vorlan-pelago
    [ "$(record flavour)" = pelago ]
    [ "$(record version)" = 10.0.0 ]
    [ -f "$WORK/vorlan-pelago-10.0.0-1.pkg" ]
    [ ! -e "$WORK/vorlan-pelago-10.0.0-1.pkg.gz" ]
    [ "$(head -n 1 "$R$ETC/vlsrvd.conf")" = '<?xml version="1.0"?>' ]
    [ "$(record epm-nostart)" = "" ]
    expect_no_handover_left
}

@test "pkg.gz: quiet upgrade removes the extra package and uses the default backup" {
    install_pkg "$K/vorlan-cresta-old.pkg.gz"
    install_pkg "$K/vorlan-cresta-extra-old.pkg.gz"
    make_add_confs
    ns_run "mkdir -p /var/tmp/vlsrv /var/opt/vlsrv/run
        echo stale > /var/tmp/vlsrv/stale-backup
        touch /var/opt/vlsrv/run/vlsrvd.pid"
    prepare_work pkg.gz C "$K/vorlan-cresta-new.pkg.gz"
    run_installer --quiet
    expect_status 0
    expect_file "$WORK.script" "$(head_lines quiet)
$(backup_lines)
=== Removing the cresta package currently installed.
$(restore_lines)
$COMPLETED"$'\n'
    not installed pkg.gz vorlan-cresta-extra
    [ ! -e "$R/opt/vlsrv-extra/README" ]
    installed pkg.gz vorlan-cresta
    [ "$(record version)" = 10.0.0 ]
    [ "$(record backup-dir)" = /var/tmp/vlsrv ]
    [ "$(record restored)" = yes ]
    # The daemon was running: its services may start again.
    [ "$(record epm-nostart)" = "" ]
    [ "$(ls "$R/var/tmp/vlsrv")" = vlsrvd.conf ]
    expect_add_confs_restored
    expect_no_handover_left
}

@test "pkg.gz: interactive upgrade with the extra package, answered yes" {
    install_pkg "$K/vorlan-cresta-new.pkg.gz"
    install_pkg "$K/vorlan-cresta-extra-new.pkg.gz"
    make_add_confs
    prepare_work pkg.gz C "$K/vorlan-cresta-new.pkg.gz"
    INPUT='yes\nyes\n\n' run_installer
    expect_status 0
    expect_file "$WORK.script" "$(extra_upgrade_output cresta)"$'\n'
    not installed pkg.gz vorlan-cresta-extra
    [ "$(record restored)" = yes ]
    [ "$(record epm-nostart)" = y ]
    expect_add_confs_restored
}

@test "pkg.gz: a failing postinstall fails the installation" {
    fault install-fail
    prepare_work pkg.gz C "$K/vorlan-cresta-new.pkg.gz"
    run_installer --quiet
    expect_status 1
    expect_file "$WORK.script" "$(head_lines quiet)
$FAILED"$'\n'
    grep -q 'cannot initialise the server database' "$WORK.err"
    [ ! -e "$R$INITDB_FILE" ]
}

@test "pkg.gz: installer images of both launchers install the server" {
    for launcher in "$LAUNCHER_X86_64" "$LAUNCHER_I386"; do
        ns_run "if pkginfo vorlan-cresta > /dev/null 2>&1; then pkgrm vorlan-cresta; fi > /dev/null
            rm -rf /var/opt/vlsrv /var/tmp/vlsrv"
        prepare_work pkg.gz C "$K/vorlan-cresta-new.pkg.gz"
        run_image "$launcher" --quiet --clean
        expect_status 0
        PASSWORD=$(record password)
        expect_password "$PASSWORD"
        expect_file "$WORK.script" "$LAUNCHER_LINES
$(head_lines quiet)
$(password_lines "$PASSWORD")

$COMPLETED"$'\n'
        installed pkg.gz vorlan-cresta
        printf '\n' | cmp - "$R$ETC/backup-dir"
    done
}

@test "pkg.gz: the host's package databases and /opt are unchanged" {
    expect_host_unchanged
}
