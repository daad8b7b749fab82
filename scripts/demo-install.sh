#!/bin/sh
# shellcheck source-path=SCRIPTDIR
# demo-install.sh INSTALLER: run by main.sh, as root, in a private mount
# namespace ("unshare -m"). Mounts tmpfs over every path the installation
# writes, installs INSTALLER unattended from a root-only directory, lists
# what it installed, then removes it with the product's removal script.
#
# The installer is opened before the mounts, so that it is found wherever
# the checkout lies, /tmp and /var/tmp included.

PROG=demo-install.sh
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"
# shellcheck source=../product/product.sh
. "$(dirname "$0")/../product/product.sh"

WRITTEN_DIRS="/tmp /etc/opt /opt /var/opt /var/tmp"
# Where the installer is copied to and run from: a tmpfs of root's alone.
DEMO_DIR=/mnt

say() {
    printf '\n### %s\n' "$*"
}

isolate() {
    exec 3<"$INSTALLER" || die "cannot open $INSTALLER"
    mount --make-rprivate / || die "cannot make the mounts private"
    for dir in $WRITTEN_DIRS; do
        mkdir -p "$dir" || die "cannot create $dir"
        mount -t tmpfs -o mode=1777 vorlan-demo "$dir" || die "cannot mount tmpfs on $dir"
    done
    chmod 0755 /etc/opt /opt /var/opt || die "cannot set the modes of the mounts"
    mount -t tmpfs -o mode=0700 vorlan-demo "$DEMO_DIR" || die "cannot mount tmpfs on $DEMO_DIR"
    cat <&3 >"$DEMO_DIR/$NAME" || die "cannot copy the installer"
    exec 3<&-
    chmod 0755 "$DEMO_DIR/$NAME" || die "cannot make the installer executable"
}

install_quietly() {
    cd "$DEMO_DIR" || die "cannot enter $DEMO_DIR"
    say "printf '\\\\n' | ./$NAME -- --quiet   (as root, in $DEMO_DIR, mode 0700, isolated)"
    status=0
    printf '\n' | run_launcher "./$NAME" -- --quiet || status=$?
    say "Installed (exit status $status)"
    list_installed
    [ "$status" = 0 ] || exit "$status"
}

list_installed() {
    find /opt /etc/opt /var/opt /tmp "$DEMO_DIR" -mindepth 1 -not -path "$DEMO_DIR/$NAME" \
        -printf '%M %u:%g %10s %p\n' | sort -k4
}

# The removal script stops the service the installation started.
remove_product() {
    remover=/etc/opt/vorlansoft/software/$PRODUCT_PACKAGE.remove
    say "$remover now"
    "$remover" now || die "the removal failed"
    say "Left after the removal"
    list_installed
}

[ $# -eq 1 ] || { echo "usage: demo-install.sh INSTALLER" >&2; exit 2; }
INSTALLER=$1
NAME=${INSTALLER##*/}
isolate
install_quietly
remove_product
