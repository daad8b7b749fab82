# Shared set-up for the product package tests.
#
# Tests that install the product run as root inside a private mount
# namespace (ns_run) where what an installation writes (/tmp, /var/tmp,
# /etc/opt, /opt and /var/opt) lies on fresh tmpfs mounts, so the host's
# real paths never change. The test's own directory $K stays visible at its
# own path: the unpacked package lies there, and whatever a scenario leaves
# there can be looked at afterwards.

load ../helpers/common
load ../helpers/namespace

# shellcheck source=../../product/product.sh
. "$SOURCE_DIR/product/product.sh"
PACKAGE=$PRODUCT_PACKAGE
PKG_FILE=$PRODUCT_FILE
PRODUCT_SRC=$SOURCE_DIR/product/$PACKAGE
# shellcheck disable=SC2034 # used by the test files
TREE_SRC=$PRODUCT_SRC/tree

# Installed paths, used by the test files that load this one.
# shellcheck disable=SC2034
{
    INIT=/etc/opt/vorlansoft/cresta-proxy/init.d/vlproxy
    PID_FILE=/var/opt/vorlansoft/cresta-proxy/run/vlproxy.pid
    STATUS_FILE=/var/opt/vorlansoft/cresta-proxy/run/vlproxy.status
}

# What every scenario starts with. "$K" and "$SOURCE_DIR" come from the
# environment; the scenario's own text follows.
# shellcheck disable=SC2016 # expanded inside the namespace
NS_PRELUDE='
unset TMPDIR
trap stop_leftover_service EXIT
cd "$K"
'

# ns_run SCRIPT: runs the bash text SCRIPT as root in a fresh namespace.
# File descriptor 3 (bats' own) is closed so that a service started by the
# scenario cannot hold the test run open.
ns_run() {
    K=$K SOURCE_DIR=$SOURCE_DIR in_private_ns keep:"$K" "${INSTALL_MOUNTS[@]}" -- bash -c "$NS_PRELUDE$1" 3>&-
}

# --- functions available inside the namespace ----------------------------

# snapshot: every path of the namespace's trees with type, mode and owner,
# leaving out the test directory.
snapshot() {
    find /tmp /var/tmp /etc/opt /opt /var/opt -path "$K" -prune -o \
        -printf '%p %y %m %u:%g\n' | LC_ALL=C sort
}

# write_handover TEXT [MODE [OWNER]]: writes the certificate hand-over file.
write_handover() {
    (umask 077 && printf '%s' "$1" > /tmp/vlsrv-certificate-path)
    chmod "${2:-0600}" /tmp/vlsrv-certificate-path
    chown "${3:-0:0}" /tmp/vlsrv-certificate-path
}

# install_product [ENV...]: runs the package's install step as the embedded
# script does, from the unpacked package directory with the argument "now".
install_product() {
    (cd "$K/pkg" && env "$@" ./vorlan-cresta-proxy.install now)
}

remove_product() {
    /etc/opt/vorlansoft/software/vorlan-cresta-proxy.remove now
}

# stop_leftover_service: kills a service that a failed scenario left behind.
stop_leftover_service() {
    local pid
    if [ -f /var/opt/vorlansoft/cresta-proxy/run/vlproxy.pid ]; then
        read -r pid < /var/opt/vorlansoft/cresta-proxy/run/vlproxy.pid
        kill "$pid" 2>/dev/null
    fi
    return 0
}

export -f snapshot write_handover install_product \
    remove_product stop_leftover_service

# --- set-up on the host ----------------------------------------------------

# build_product DIR: builds the product package into DIR.
build_product() {
    "$SOURCE_DIR/scripts/make-product.sh" "$1" >/dev/null
}

# unpack_product: builds the package and unpacks it into $K/pkg, as the
# embedded script unpacks it into its working directory.
unpack_product() {
    build_product "$K/build"
    mkdir "$K/pkg"
    (cd "$K/pkg" && tar xf "$K/build/$PKG_FILE")
}

require_launcher() {
    [ -x "$1" ] || skip "launcher not built: $1"
}

# listing ARCHIVE: the members of a tar with mode, owner, full UTC time and
# name (sizes left out).
listing() {
    TZ=UTC tar --numeric-owner --full-time -tvf "$1" |
        awk '{ print $1, $2, $4, $5, $6 }'
}
