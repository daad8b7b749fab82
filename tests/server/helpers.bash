# shellcheck shell=bash disable=SC2034 # the settings are read by the test files
# Shared set-up for the server package tests.
#
# The test packages (vorlan-cresta, vorlan-pelago, vorlan-cresta-extra in an
# old 9.0.0-1 and a new 10.0.0-1 version) are built once per file from
# fixtures/ with the real package tools.  Every test runs in its own private
# mount namespace, kept alive by a holder process for the whole test:
# /tmp, /etc/opt, /opt, /var/opt, /var/tmp, /var/log, /var/lib/rpm and the
# host's rpm database directory are fresh tmpfs mounts, /var/lib/dpkg is an
# overlay over the host's dpkg database, and HOME is a directory in the
# private /tmp (so the rpm database, which Debian's rpm keeps under HOME,
# is private too).  Commands run inside with ns_run; files inside are
# reached from outside through $R (the holder's root).  $BATS_RUN_TMPDIR
# stays visible at its own path, so the work directory $WORK is the same on
# both sides.

load ../helpers/common
load ../helpers/namespace
load ../helpers/host
FIXTURES="$BATS_TEST_DIRNAME/fixtures"
STANDINS="$FIXTURES/solaris-standins"
PKGS="$BATS_FILE_TMPDIR/pkgs"
NS_HOME=/tmp/root-home
# Extra PATH entries inside the namespace (the Solaris stand-ins).
NS_PATH_PREFIX=""

ETC=/var/opt/vlsrv/etc
BDIR_FILE=/tmp/vlsrv-backup-dir
INITDB_FILE=/tmp/vlsrv-initdb-file
ADD_CONFS="auth-ldap.conf auth-radius.conf auth-ads.conf"

EULA_TEXT="VORLAN SERVER TEST AGREEMENT"
ACCEPTED="To continue the installation, you must accept the License Agreement. Accept? (yes/NO) yes"
STARTED="Package installation started, please wait..."
COMPLETED="
Installation completed."
FAILED="
Installation failed."
NO_INITDB="
Cannot find database initialization file, try to use default password (kelp).
"
# What the launcher prints before the script of server-setup.run starts.
LAUNCHER_LINES="Verifying archive integrity... Succeed.
Uncompressing in server-setup.run.dir..."
EXTRA_QUESTION="
Please note, the currently installed Vorlan Server extra package will be
removed during Vorlan Server upgrade process. Continue? (yes/NO)"

# ------------------------------------------------------------- host state

# host_rpm_dbpath: where the host's rpm keeps its database.
host_rpm_dbpath() {
    rpm --eval '%_dbpath'
}

# What the tests must never change on the host: the dpkg status file, the
# rpm databases and /opt (also /etc/opt and /var/opt, which the packages
# write to).
server_host_state() {
    host_state /var/lib/dpkg/status "$(host_rpm_dbpath)/" /var/lib/rpm/ /opt/ /etc/opt/ /var/opt/
}

# server_setup_file FORMAT...: build the packages of FORMAT and take the
# host's fingerprint.
server_setup_file() {
    server_host_state > "$BATS_FILE_TMPDIR/host.before"
    sh "$FIXTURES/build-packages.sh" "$PKGS" "$@"
}

# expect_host_unchanged: the host's fingerprint is what it was before.
expect_host_unchanged() {
    server_host_state > "$BATS_FILE_TMPDIR/host.after"
    diff -u "$BATS_FILE_TMPDIR/host.before" "$BATS_FILE_TMPDIR/host.after"
}

# -------------------------------------------------------------- namespace

# What holds the namespace, once its mounts are made: the private rpm
# database, then a process that lives as long as the test.
# shellcheck disable=SC2016 # run by the namespace's own shell
NS_HOLD='
mkdir -m 0700 /tmp/root-home
HOME=/tmp/root-home rpm --initdb || exit 1
echo ok > "$1"
exec sleep 86400
'

# ns_start: the private namespace of this test.
ns_start() {
    local ready="$BATS_TEST_TMPDIR/ns.ready" line db
    local -a mounts=(keep:"$BATS_RUN_TMPDIR" "${INSTALL_MOUNTS[@]}" tmpfs:mode=0755:/var/log
        overlay:/var/lib/dpkg)
    for db in /var/lib/rpm "$(host_rpm_dbpath)"; do
        if [ -d "$db" ]; then
            mounts+=(tmpfs:mode=0755:"$db")
        fi
    done
    mkfifo "$ready"
    # Not through in_private_ns: NS_PID must be the namespace's own process.
    unshare -m bash "$NAMESPACE_SH" "${mounts[@]}" -- bash -c "$NS_HOLD" ns "$ready" \
        > "$BATS_TEST_TMPDIR/ns.log" 2>&1 3>&- &
    NS_PID=$!
    read -r line < "$ready"
    if [ "$line" != ok ]; then
        cat "$BATS_TEST_TMPDIR/ns.log" >&2
        return 1
    fi
    R="/proc/$NS_PID/root"
    WORK="$BATS_TEST_TMPDIR/work"
    mkdir -p "$WORK"
}

ns_stop() {
    if [ -n "${NS_PID-}" ]; then
        kill "$NS_PID" 2>/dev/null || true
        wait "$NS_PID" 2>/dev/null || true
        NS_PID=""
    fi
}

setup() {
    ns_start
}

teardown() {
    ns_stop
}

# ns_run COMMAND: run the bash COMMAND as root inside the namespace.
ns_run() {
    nsenter -t "$NS_PID" -m -- env HOME="$NS_HOME" LANG=C \
        PATH="${NS_PATH_PREFIX:+$NS_PATH_PREFIX:}$PATH" bash -c "$1"
}

# ------------------------------------------------------------- work area

# prepare_work FORMAT PKF [PACKAGE_FILE...]: the extracted payload of a
# server installer in $WORK: install.sh, defaults.sh for FORMAT (deb, rpm,
# tar.gz, pkg.gz) and flavour code PKF, the agreement texts, and the given
# package files under the names their format uses.
prepare_work() {
    local format=$1 pkf=$2 file base
    shift 2
    cp "$SOURCE_DIR/payload/install.sh" "$WORK/"
    cat > "$WORK/defaults.sh" <<EOF
SERVER_PACKAGE="yes"
PKF="$pkf"
BUILD_ARCH="amd64"
UNIX_PACK_FMT="$format"
BUILD_PLATFORM="linux"
MAKESELF_DIR="vorlan-server-10.0.0-1-linux-x86_64.$format.dir"
EOF
    printf '%s\n' "$EULA_TEXT" > "$WORK/EULA"
    printf '%s\n' "$EULA_TEXT" > "$WORK/EULA-RU"
    for file in "$@"; do
        base=$(basename "$file")
        base=${base%-new.*}
        base=${base%-old.*}
        case $file in
            *.deb) cp "$file" "$WORK/${base}_10.0.0-1_all.deb" ;;
            *.rpm) cp "$file" "$WORK/$base-10.0.0-1.noarch.rpm" ;;
            *.tar.gz) cp "$file" "$WORK/$base-10.0.0-1-linux-x86_64.tar.gz" ;;
            *.pkg.gz) cp "$file" "$WORK/$base-10.0.0-1.pkg.gz" ;;
        esac
    done
    chmod 0644 "$WORK"/*
}

# install_pkg FILE: install a package file of any format inside the
# namespace, as the machine's administrator once did.
install_pkg() {
    local file=$1
    case $file in
        *.deb) ns_run "dpkg -i '$file'" ;;
        *.rpm) ns_run "rpm -i '$file' 2>/dev/null" ;;
        *.tar.gz)
            ns_run "set -e; d=\$(mktemp -d /tmp/unpack.XXXXXX); cd \"\$d\"; tar xf '$file'
                for i in *.install; do ./\"\$i\" now; done; cd /; rm -rf \"\$d\""
            ;;
        *.pkg.gz)
            ns_run "set -e; d=\$(mktemp -d /tmp/unpack.XXXXXX); gzip -dc '$file' > \"\$d/p.pkg\"
                pkgadd -d \"\$d/p.pkg\"; rm -rf \"\$d\""
            ;;
    esac > "$BATS_TEST_TMPDIR/install_pkg.log" 2>&1 || {
        cat "$BATS_TEST_TMPDIR/install_pkg.log" >&2
        return 1
    }
}

# rpm_base: the private rpm database gets its stand-in for the system.
rpm_base() {
    ns_run "rpm -i '$PKGS/rpm/vlsrv-test-base.rpm' 2>/dev/null"
}

# installed FORMAT NAME: the package NAME is installed, by FORMAT's tool.
installed() {
    case $1 in
        deb) ns_run "dpkg-query -W -f='\${Status}\n' '$2' 2>/dev/null | grep -q ' ok installed\$'" ;;
        rpm) ns_run "rpm -q '$2' > /dev/null 2>&1" ;;
        tar.gz) [ -f "$R/etc/opt/vorlansoft/software/$2.remove" ] ;;
        pkg.gz) ns_run "pkginfo '$2' > /dev/null 2>&1" ;;
    esac
}

# installed_version FORMAT NAME: the version the format's tool reports.
installed_version() {
    case $1 in
        deb) ns_run "dpkg-query -W -f='\${Version}' '$2'" ;;
        rpm) ns_run "rpm -q --qf '%{EPOCH}:%{VERSION}-%{RELEASE}' '$2' 2>/dev/null" ;;
    esac
}

# make_add_confs: the additional configuration files of an installed server,
# with distinct contents, modes, owners and times.
make_add_confs() {
    ns_run "set -e
        mkdir -p $ETC
        echo 'ldap uri ldap://dir.example' > $ETC/auth-ldap.conf
        echo 'radius secret s3cret' > $ETC/auth-radius.conf
        echo 'ads realm EXAMPLE' > $ETC/auth-ads.conf
        chown 1234:5678 $ETC/auth-ldap.conf
        chmod 0640 $ETC/auth-ldap.conf
        chmod 0600 $ETC/auth-radius.conf
        chown 42:42 $ETC/auth-ads.conf
        touch -d '2001-02-03 04:05:06' $ETC/auth-ldap.conf
        touch -d '2002-03-04 05:06:07' $ETC/auth-radius.conf
        touch -d '2003-04-05 06:07:08' $ETC/auth-ads.conf
        cd $ETC && stat -c '%n %a %u %g %Y' $ADD_CONFS > /tmp/add-confs.stat
        cat $ADD_CONFS > /tmp/add-confs.content"
}

# expect_add_confs_restored: the additional configuration files are back
# with their contents, modes, owners and times.
expect_add_confs_restored() {
    ns_run "cd $ETC && stat -c '%n %a %u %g %Y' $ADD_CONFS" > "$BATS_TEST_TMPDIR/stat.after"
    diff -u "$R/tmp/add-confs.stat" "$BATS_TEST_TMPDIR/stat.after"
    ns_run "cd $ETC && cat $ADD_CONFS" | diff -u "$R/tmp/add-confs.content" -
}

# expect_add_confs_absent: none of the additional configuration files is
# in the server's configuration directory.
expect_add_confs_absent() {
    local name
    for name in $ADD_CONFS; do
        if [ -e "$R$ETC/$name" ]; then
            echo "$ETC/$name is present" >&2
            return 1
        fi
    done
}

# fault WORD: switch on a fault of the test packages' install or removal
# step (see fixtures/tree/opt/vlsrv/lib/vlsrv-setup).
fault() {
    echo "$1" >> "$R/etc/opt/vlsrv-test-faults"
}

# record KEY: a value the server package's install step recorded.
record() {
    sed -n "s/^$1=//p" "$R$ETC/installed-with"
}

# -------------------------------------------------------------- running

# run_installer [ARGS...]: run install.sh in $WORK as the launcher would
# (sh ./install.sh ARGS), standard input from $INPUT (printf %b; default
# empty).  Afterwards: $STATUS, $WORK.out, $WORK.err and the script's own
# output (script_output) in $WORK.script.
run_installer() {
    local quoted=""
    printf '%b' "${INPUT-}" > "$BATS_TEST_TMPDIR/input"
    if [ "$#" -gt 0 ]; then
        quoted=$(printf " '%s'" "$@")
    fi
    STATUS=0
    ns_run "cd '$WORK' && exec sh ./install.sh$quoted" < "$BATS_TEST_TMPDIR/input" \
        > "$WORK.out" 2> "$WORK.err" || STATUS=$?
    RUN_OUT=$WORK.out RUN_ERR=$WORK.err
    script_output > "$WORK.script"
}

# run_image LAUNCHER [ARGS...]: pack $WORK into an installer image with
# LAUNCHER and run it (through qemu-i386 for the 32-bit launcher) from a
# directory of the namespace's /tmp, passing ARGS to the script; leaves
# what run_installer leaves.
run_image() {
    local launcher=$1 image="$BATS_TEST_TMPDIR/server-setup.run" quoted="" runner=""
    shift
    rm -f "$image"
    "$BUILD_DIR/bin/vorlan-mkinstaller" --launcher "$launcher" "$WORK" "$image" >/dev/null
    if [ "$#" -gt 0 ]; then
        quoted=$(printf " '%s'" "$@")
    fi
    case $launcher in
        *i386*) runner="qemu-i386 " ;;
    esac
    printf '%b' "${INPUT-}" > "$BATS_TEST_TMPDIR/input"
    STATUS=0
    ns_run "mkdir -p /tmp/run && cd /tmp/run && rm -rf server-setup.run.dir &&
        exec $runner'$image' --$quoted" < "$BATS_TEST_TMPDIR/input" \
        > "$WORK.out" 2> "$WORK.err" || STATUS=$?
    RUN_OUT=$WORK.out RUN_ERR=$WORK.err
    script_output > "$WORK.script"
}

# Lines of the package tools (dpkg, rpm) and of the pkg stand-ins, which the
# script passes through; the normalised output leaves them out.  Debian's
# rpm also complains on its error output about every install or erase.
TOOL_LINES='^(Selecting previously unselected package |\(Reading database \.\.\. |Preparing to unpack |Unpacking |Setting up |Removing [a-z]|Purging configuration files for |Updating / installing\.\.\.$|Cleaning up / removing\.\.\.$|rpm: RPM should not be used directly install RPM packages, use Alien instead!$|rpm: However assuming you know what you are doing\.\.\.$|Installation of <|Removal of <)|#{40}$'

# script_output: the script's own standard output: the prompt ": " that
# the next output continues is put on a line of its own, the package
# tools' lines are dropped, and the temporary directory's random part is
# replaced by XXXXXXXXXX.
script_output() {
    sed 's/^: \(..*\)$/: \n\1/' "$WORK.out" |
        grep -Ev "$TOOL_LINES" |
        sed -E 's|/tmp/tmp\.[A-Za-z0-9]{10}/|/tmp/tmp.XXXXXXXXXX/|g'
}

# conf_tmp_dir: the temporary directory named in the script's first
# "Backup" line.
conf_tmp_dir() {
    sed -nE 's|^Backup ".*" --> "(/tmp/tmp\.[A-Za-z0-9]{10})/.*"$|\1|p' "$WORK.out" | head -n 1
}

# ------------------------------------------------------- expected texts

# head_lines quiet|ask: the agreement, its acceptance and the first line
# of the installation.
head_lines() {
    if [ "$1" = quiet ]; then
        printf '%s\n%s' "$EULA_TEXT" "$STARTED"
    else
        printf '%s\n%s\n%s' "$EULA_TEXT" "$ACCEPTED" "$STARTED"
    fi
}

backup_lines() {
    local name
    echo "=== Backing up additional configuration files."
    for name in $ADD_CONFS; do
        echo "Backup \"$ETC/$name\" --> \"/tmp/tmp.XXXXXXXXXX/$name\""
    done
}

restore_lines() {
    local name
    echo "=== Restoring additional configuration files."
    for name in $ADD_CONFS; do
        echo "Restore \"/tmp/tmp.XXXXXXXXXX/$name\" --> \"$ETC/$name\""
    done
}

# backup_question DEFAULT: the backup-directory question, up to its ": ".
backup_question() {
    printf '\n%s\n%s\n%s\n\n: ' \
        "To use settings from the previous installation, set the path to the backup." \
        "To use the backup from the default path ($1), press Enter." \
        "To install the Server with default settings not using backup ones, enter 0."
}

# password_lines PASSWORD
password_lines() {
    printf '\nAutomatically generated administrator password is %s\n' "$1"
}

# expect_password PASSWORD: ten ASCII letters and digits.
expect_password() {
    if ! printf '%s\n' "$1" | grep -Eqx '[A-Za-z0-9]{10}'; then
        echo "bad administrator password \"$1\"" >&2
        return 1
    fi
}

# expect_fresh_quiet_install: the last run, a quiet first installation,
# succeeded and printed the agreement, the start, the administrator
# password the package recorded (PASSWORD) and the completion.
expect_fresh_quiet_install() {
    expect_status 0
    PASSWORD=$(record password)
    expect_password "$PASSWORD"
    expect_file "$WORK.script" "$(head_lines quiet)
$(password_lines "$PASSWORD")

$COMPLETED"$'\n'
}

# expect_no_handover_left: neither hand-over file is left in /tmp.
expect_no_handover_left() {
    if [ -e "$R$BDIR_FILE" ] || [ -e "$R$INITDB_FILE" ]; then
        ls -l "$R/tmp" >&2
        return 1
    fi
}

# add_confs_in DIR: the contents of the additional configuration files in
# DIR, in order.
add_confs_in() {
    local name
    for name in $ADD_CONFS; do
        cat "$1/$name"
    done
}

# extra_upgrade_output FLAVOUR: what an interactive upgrade prints when the
# extra package is removed on "yes" and the default backup is restored.
extra_upgrade_output() {
    printf '%s\n' "$(head_lines ask)" "$(backup_lines)" \
        "=== Removing the $1 package currently installed." "$EXTRA_QUESTION yes" \
        "$(backup_question /var/tmp/vlsrv)" "$(restore_lines)" "$COMPLETED"
}
