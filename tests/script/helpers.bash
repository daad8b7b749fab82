# Shared set-up for the tests of the embedded installation script.
#
# Every test gets a fresh work directory $W holding copies of install.sh,
# defaults.sh, two small agreement texts and a fixture product package, and
# runs the script there with run_install.  The script always runs as root
# inside a private mount namespace where what an installation writes (/tmp,
# /etc/opt, /opt, /var/opt, /var/tmp) lies on fresh tmpfs mounts, so
# nothing of the host's hand-over paths, /opt or package databases changes.
# $W itself stays visible at its own path, so whatever the run leaves there
# is visible to the test afterwards.

load ../helpers/common
load ../helpers/namespace

# The texts below are used by the test files (SC2034); shell code for the
# namespace is single-quoted so that it expands there (SC2016).
# shellcheck disable=SC2016,SC2034

SCRIPT_SHELL=${SCRIPT_SHELL:-/bin/sh}

# The help text's en dash.
ENDASH=$(printf '\342\200\223')

# Agreement fixtures: UTF-8 with CR LF line ends, like the real texts.
EULA_TEXT=$(printf 'VORLAN LICENSE AGREEMENT\r\nUse it well.\r')
EULA_RU_TEXT=$(printf 'ЛИЦЕНЗИОННОЕ СОГЛАШЕНИЕ\r\nПользуйтесь на здоровье: ёжик.\r')

CERT_PROMPT=$(printf 'Please enter path to your server certificate.\nIf you plan to place certificate later, press Enter.\n\n: ')
ACCEPT_PROMPT='To continue the installation, you must accept the License Agreement. Accept? (yes/NO) '
# What a run that installs the proxy fixture writes after the prompts.
PROXY_INSTALLED='Package installation started, please wait...
vorlan-cresta-proxy ran with: now

Installation completed.
'
OLD_VERSION_MSG='Please uninstall previous version of Vorlan Server first. Installation aborted.'

setup() {
    W="$BATS_TEST_TMPDIR/w"
    mkdir -p "$W/stub"
    chmod 0755 "$BATS_TEST_TMPDIR" "$W" "$W/stub"
    cp "$SOURCE_DIR/payload/install.sh" "$SOURCE_DIR/payload/defaults.sh" "$W/"
    printf '%s\n' "$EULA_TEXT" > "$W/EULA"
    printf '%s\n' "$EULA_RU_TEXT" > "$W/EULA-RU"
    chmod 0644 "$W"/*
    cd "$W" || return 1
}

# set_default NAME VALUE: change one line of the work copy of defaults.sh.
set_default() {
    sed -i "s|^$1=.*|$1=\"$2\"|" "$W/defaults.sh"
}

# write_install_script PATH NAME STATUS [EXTRA]: a fixture install (or
# removal) script.  It prints one line, logs its arguments, EPM_NOSTART and
# the state of every hand-over file it can see, runs EXTRA, and exits with
# STATUS.
write_install_script() {
    cat > "$1" <<EOF
#!/bin/sh
# Fixture package script $2.
echo "$2 ran with: \$*"
{
    echo "$2 \$*"
    echo "EPM_NOSTART=\${EPM_NOSTART-unset}"
} >> "$W/install.log"
for f in /tmp/vlsrv-certificate-path /tmp/vlsrv-backup-dir /tmp/vlsrv-initdb-file; do
    if [ -e "\$f" ] || [ -L "\$f" ]; then
        echo "$2: \$(stat -c '%n %F %u %g %a' "\$f")" >> "$W/handover.log"
        cp "\$f" "$W/seen.\$(basename "\$f")" 2>/dev/null
    fi
done
${4-}
exit $3
EOF
    chmod 0755 "$1"
}

# make_package ARCHIVE NAME STATUS [EXTRA]: a gzip tar product package in
# $W holding NAME.install (see write_install_script).
make_package() {
    local dir="$BATS_TEST_TMPDIR/pkg.$2"
    mkdir -p "$dir"
    write_install_script "$dir/$2.install" "$2" "$3" "${4-}"
    printf 'software of %s\n' "$2" > "$dir/$2.sw"
    tar -C "$dir" -czf "$W/$1" "$2.install" "$2.sw"
}

# The non-server package of this payload.
make_proxy_package() {
    make_package vorlan-cresta-proxy-1100-201805310-linux-x86_64.tar.gz \
        vorlan-cresta-proxy "${1:-0}" "${2-}"
}

# build_deb NAME VERSION [OUT]: a tiny real deb package in OUT, by default
# $W/NAME.deb (the work directory is the one place of the test that the
# namespace can see).
build_deb() {
    local d="$BATS_TEST_TMPDIR/deb.$1"
    mkdir -p "$d/DEBIAN" "$d/opt/vorlan-test"
    printf 'fixture\n' > "$d/opt/vorlan-test/$1"
    printf 'Package: %s\nVersion: %s\nArchitecture: all\nMaintainer: Test <test@example.invalid>\nDescription: test fixture\n' \
        "$1" "$2" > "$d/DEBIAN/control"
    dpkg-deb --build --root-owner-group "$d" "${3:-$W/$1.deb}" > /dev/null
}

# stub NAME BODY: a stand-in program in $W/stub, which comes first in PATH
# during run_install.  Used only to simulate other machines and tools.
stub() {
    printf '#!/bin/sh\n%s\n' "$2" > "$W/stub/$1"
    chmod 0755 "$W/stub/$1"
}

# pre_ns TEXT / post_ns TEXT: shell code run inside the namespace (in $W,
# as root) before and after the script, to set up machine state and to
# record what is left in the private directories.
pre_ns() { printf '%s\n' "$1" >> "$W/pre.sh"; }
post_ns() { printf '%s\n' "$1" >> "$W/post.sh"; }

# ns_mounts: NS_MOUNTS, the mounts of a run's namespace (see run_install).
ns_mounts() {
    local mount
    NS_MOUNTS=(keep:"$W")
    if [ -n "${NS_DPKG-}" ]; then
        # A private copy of the package database for real dpkg runs, which
        # log under /var/log.
        NS_MOUNTS+=(overlay:/var/lib/dpkg tmpfs::/var/log)
    fi
    for mount in ${NS_EXTRA_TMPFS-}; do
        NS_MOUNTS+=(tmpfs::"$mount")
    done
    for mount in "${INSTALL_MOUNTS[@]}"; do
        # Inside an extra tmpfs (such as /var) the directory is new.
        if [ -n "${NS_EXTRA_TMPFS-}" ]; then
            NS_MOUNTS+=(dir:"${mount##*:}")
        fi
        NS_MOUNTS+=("$mount")
    done
}

# What runs in the namespace: pre.sh, the script, post.sh.
NS_BODY='
W=$1; shift
cd "$W"
if [ -f pre.sh ]; then
    bash -e pre.sh > pre.out 2>&1 || { cat pre.out; exit 99; }
fi
if [ "${NS_LANG-}" = "-unset-" ]; then unset LANG; else export LANG="${NS_LANG:-C}"; fi
PATH="$W/stub:$PATH" ${RUN_AS-} $SCRIPT_SHELL ./install.sh "$@" > out 2> err
echo "$?" > status
if [ -f post.sh ]; then
    bash post.sh > post.out 2>&1
fi
exit 0
'

# run_install [ARGS...]: run the script with ARGS in the namespace, standard
# input from $INPUT (default: empty).  NS_EXTRA_TMPFS names more
# directories to hide behind fresh tmpfs mounts, NS_DPKG=1 gives dpkg a
# private copy of its database, NS_LANG sets LANG ("-unset-" unsets it, the
# default is C), RUN_AS is a command prefix that changes the user.
# Afterwards $STATUS is its exit status, $W/out its standard output and
# $W/err its error output.
run_install() {
    local input="$BATS_TEST_TMPDIR/input"
    printf '%b' "${INPUT-}" > "$input"
    ns_mounts
    SCRIPT_SHELL=$SCRIPT_SHELL in_private_ns "${NS_MOUNTS[@]}" -- bash -c "$NS_BODY" ns "$W" "$@" < "$input"
    STATUS=$(cat "$W/status")
    RUN_OUT=$W/out RUN_ERR=$W/err
}

# What a run that gets as far as the agreement question prints when its
# standard input is empty: the English agreement, the question, "no" and
# the refusal.
NOT_ACCEPTED="$EULA_TEXT
${ACCEPT_PROMPT}no

You have not accepted the License Agreement. Installation aborted.
"

# expect_checks_passed: the run passed every pre-installation check and
# stopped at the agreement question (empty input).
expect_checks_passed() {
    expect_file "$W/out" "$NOT_ACCEPTED"
    expect_status 1
}

# expect_refused MESSAGE: the run stopped with MESSAGE and status 1.
expect_refused() {
    expect_file "$W/out" "$1
"
    expect_status 1
}
