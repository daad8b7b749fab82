#!/usr/bin/env bats
# Server packages in tar.gz format: the package's own .install and .remove
# scripts, run by the installer in a private namespace.  Also the backup
# question, the hand-over files and the guards that do not depend on the
# format.

load helpers

setup_file() {
    server_setup_file targz
}

T="$PKGS/targz"
SW=/etc/opt/vorlansoft/software

@test "tar.gz: fresh quiet install reserves space under /var first" {
    prepare_work tar.gz C "$T/vorlan-cresta-new.tar.gz"
    run_installer --quiet
    expect_fresh_quiet_install
    grep -x 'for req in "/var 204800" "/opt 1024" "/etc/opt 16"; do' "$WORK/vorlan-cresta.install"
    [ -x "$WORK/vorlan-cresta.install" ]
    [ ! -e "$WORK/vorlan-cresta.install.new" ]
    [ "$(record space-checked)" = '[/var 204800][/opt 1024][/etc/opt 16]' ]
    [ -x "$R$SW/vorlan-cresta.remove" ]
    [ "$(record version)" = 10.0.0 ]
    [ "$(head -n 1 "$R$ETC/vlsrvd.conf")" = '<?xml version="1.0"?>' ]
    expect_no_handover_left
}

@test "tar.gz: upgrade with the extra package, backup from a directory typed in" {
    install_pkg "$T/vorlan-cresta-old.tar.gz"
    install_pkg "$T/vorlan-cresta-extra-old.tar.gz"
    make_add_confs
    ns_run "mkdir -p /var/tmp/vlsrv /tmp/my-backup
        echo stale > /var/tmp/vlsrv/stale-backup
        echo '<?xml version=\"1.0\"?><vlsrvd from=\"my-backup\"/>' > /tmp/my-backup/vlsrvd.conf"
    prepare_work tar.gz C "$T/vorlan-cresta-new.tar.gz"
    INPUT='yes\nyes\n/tmp/my-backup\n' run_installer
    expect_status 0
    expect_file "$WORK.script" "$(extra_upgrade_output cresta)"$'\n'
    [ ! -e "$R$SW/vorlan-cresta-extra.remove" ]
    [ ! -e "$R/opt/vlsrv-extra" ]
    [ "$(record version)" = 10.0.0 ]
    [ "$(record backup-dir)" = /tmp/my-backup ]
    grep -q 'from="my-backup"' "$R$ETC/vlsrvd.conf"
    # The default backup directory holds only the old package's backup.
    [ "$(ls "$R/var/tmp/vlsrv")" = vlsrvd.conf ]
    grep -q 'version="9.0.0"' "$R/var/tmp/vlsrv/vlsrvd.conf"
    expect_add_confs_restored
    expect_no_handover_left
}

@test "tar.gz: extra package question answered no" {
    install_pkg "$T/vorlan-cresta-old.tar.gz"
    install_pkg "$T/vorlan-cresta-extra-old.tar.gz"
    make_add_confs
    prepare_work tar.gz C "$T/vorlan-cresta-new.tar.gz"
    INPUT='yes\nno\n' run_installer
    expect_status 1
    expect_file "$WORK.script" "$(head_lines ask)
$(backup_lines)
=== Removing the cresta package currently installed.
$EXTRA_QUESTION no
$FAILED"$'\n'
    [ -x "$R$SW/vorlan-cresta-extra.remove" ]
    [ -x "$R$SW/vorlan-cresta.remove" ]
    [ "$(record version)" = 9.0.0 ]
    tmpdir=$(conf_tmp_dir)
    add_confs_in "$R$tmpdir" | cmp - "$R/tmp/add-confs.content"
}

@test "tar.gz: backup question answered 0 installs with default settings" {
    install_pkg "$T/vorlan-cresta-old.tar.gz"
    make_add_confs
    prepare_work tar.gz C "$T/vorlan-cresta-new.tar.gz"
    INPUT='yes\n0\n' run_installer
    expect_status 0
    PASSWORD=$(record password)
    expect_password "$PASSWORD"
    expect_file "$WORK.script" "$(head_lines ask)
$(backup_lines)
$(backup_question /var/tmp/vlsrv)$(password_lines "$PASSWORD")

$COMPLETED"$'\n'
    printf '\n' | cmp - "$R$ETC/backup-dir"
    [ "$(record restored)" = no ]
    expect_add_confs_absent
    [ -z "$(ls -d "$R"/tmp/tmp.* 2>/dev/null)" ]
    expect_no_handover_left
}

@test "tar.gz: backup question answered with a missing directory" {
    install_pkg "$T/vorlan-cresta-old.tar.gz"
    make_add_confs
    prepare_work tar.gz C "$T/vorlan-cresta-new.tar.gz"
    INPUT='yes\n/tmp/no such backup\n' run_installer
    expect_status 0
    PASSWORD=$(record password)
    expect_password "$PASSWORD"
    expect_file "$WORK.script" "$(head_lines ask)
$(backup_lines)
$(backup_question /var/tmp/vlsrv)
$(restore_lines)
$(password_lines "$PASSWORD")

$COMPLETED"$'\n'
    printf '/tmp/no such backup\n' | cmp - "$R$ETC/backup-dir"
    printf -- '-\n-\n-\n%s\n' "$PASSWORD" | cmp - "$R$ETC/initdb"
    [ "$(record restored)" = no ]
    expect_add_confs_restored
    expect_no_handover_left
}

@test "tar.gz: a backup directory that is gone by the end" {
    install_pkg "$T/vorlan-cresta-old.tar.gz"
    fault drop-backup
    prepare_work tar.gz C "$T/vorlan-cresta-new.tar.gz"
    INPUT='yes\n\n' run_installer
    expect_status 0
    expect_file "$WORK.script" "$(head_lines ask)
$(backup_lines)
$(backup_question /var/tmp/vlsrv)
$(restore_lines)
$NO_INITDB
$COMPLETED"$'\n'
    [ "$(record restored)" = yes ]
    [ "$(record initdb-file)" = absent ]
    [ ! -e "$R/var/tmp/vlsrv" ]
}

@test "tar.gz: a directory at the backup-directory hand-over path" {
    ns_run "mkdir $BDIR_FILE"
    prepare_work tar.gz C "$T/vorlan-cresta-new.tar.gz"
    run_installer --quiet
    expect_status 1
    expect_file "$WORK.script" "$(head_lines quiet)
\"/tmp/vlsrv-backup-dir\" is not a regular file.
$FAILED"$'\n'
    [ -d "$R$BDIR_FILE" ]
    [ ! -e "$R$SW/vorlan-cresta.remove" ]
}

@test "tar.gz: links planted at the hand-over paths are not written through" {
    ns_run "set -e
        printf 'victim\n' > /etc/opt/victim-bdir
        printf 'victim\n' > /etc/opt/victim-initdb
        chmod 0644 /etc/opt/victim-bdir /etc/opt/victim-initdb
        ln -s /etc/opt/victim-bdir $BDIR_FILE
        ln -s /etc/opt/victim-initdb $INITDB_FILE
        stat -c '%n %a %u %s %Y' /etc/opt/victim-* > /tmp/victims.before"
    prepare_work tar.gz C "$T/vorlan-cresta-new.tar.gz"
    run_installer --quiet
    expect_status 0
    ns_run "stat -c '%n %a %u %s %Y' /etc/opt/victim-*" | diff -u "$R/tmp/victims.before" -
    [ "$(cat "$R/etc/opt/victim-bdir")" = victim ]
    [ "$(cat "$R/etc/opt/victim-initdb")" = victim ]
    # The install step found private regular files at both paths.
    [ "$(record backup-dir-file)" = accepted ]
    [ "$(record initdb-file)" = accepted ]
    PASSWORD=$(record password)
    expect_password "$PASSWORD"
    grep -qx "Automatically generated administrator password is $PASSWORD" "$WORK.out"
    expect_no_handover_left
}

@test "tar.gz: a default backup directory naming / is never removed" {
    install_pkg "$T/vorlan-cresta-old.tar.gz"
    make_add_confs
    ns_run "touch /var/opt/keep-me /etc/opt/keep-me"
    for dir in / // /tmp/.. /./; do
        printf 'DEFAULT_BACKUP_DIR="%s"\n' "$dir" > "$WORK.preseed"
        prepare_work tar.gz C "$T/vorlan-cresta-new.tar.gz"
        run_installer --quiet --preseed "$WORK.preseed"
        expect_status 1
        # The backup lines, one line that names the refused directory, and
        # the failure.
        script_output > "$BATS_TEST_TMPDIR/own"
        [ "$(sed -n 2p "$BATS_TEST_TMPDIR/own")" = "$STARTED" ]
        [ "$(sed -n 7p "$BATS_TEST_TMPDIR/own")" != "" ]
        sed -n 7p "$BATS_TEST_TMPDIR/own" | grep -qF "\"$dir\""
        [ "$(sed -n '8,$p' "$BATS_TEST_TMPDIR/own")" = "$FAILED" ]
        [ -e "$R/var/opt/keep-me" ]
        [ -e "$R/etc/opt/keep-me" ]
        [ -e "$WORK/install.sh" ]
        [ -x "$R$SW/vorlan-cresta.remove" ]
        [ "$(record version)" = 9.0.0 ]
    done
}

@test "tar.gz: a failing install script fails the installation" {
    fault install-fail
    prepare_work tar.gz C "$T/vorlan-cresta-new.tar.gz"
    run_installer --quiet
    expect_status 1
    expect_file "$WORK.script" "$(head_lines quiet)
$FAILED"$'\n'
    grep -q 'cannot initialise the server database' "$WORK.err"
    [ ! -e "$R$INITDB_FILE" ]
}

@test "tar.gz: an unknown package format" {
    prepare_work zip C "$T/vorlan-cresta-new.tar.gz"
    run_installer --quiet
    expect_status 1
    expect_file "$WORK.script" "$(head_lines quiet)
Unknown package format \"zip\"."$'\n'
    [ ! -e "$R$BDIR_FILE" ]
}

@test "tar.gz: installer images of both launchers upgrade the server" {
    for launcher in "$LAUNCHER_X86_64" "$LAUNCHER_I386"; do
        ns_run "if [ -x $SW/vorlan-cresta.remove ]; then $SW/vorlan-cresta.remove now; fi
            rm -rf /var/opt/vlsrv /var/tmp/vlsrv"
        install_pkg "$T/vorlan-cresta-old.tar.gz"
        make_add_confs
        prepare_work tar.gz C "$T/vorlan-cresta-new.tar.gz"
        run_image "$launcher" --quiet
        expect_status 0
        expect_file "$WORK.script" "$LAUNCHER_LINES
$(head_lines quiet)
$(backup_lines)
$(restore_lines)
$COMPLETED"$'\n'
        [ "$(record version)" = 10.0.0 ]
        [ "$(record restored)" = yes ]
        expect_add_confs_restored
        grep -x 'for req in "/var 204800" "/opt 1024" "/etc/opt 16"; do' \
            "$R/tmp/run/server-setup.run.dir/vorlan-cresta.install"
    done
}

@test "tar.gz: the host's package databases and /opt are unchanged" {
    expect_host_unchanged
}
