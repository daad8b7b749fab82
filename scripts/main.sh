#!/bin/sh
# The main job: build both launchers and the shipped installer, show what the
# installer holds, and, as root, install it unattended in a private mount
# namespace so that the host's /opt, /etc/opt, /var and /tmp stay untouched.
set -eu

top=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$top/build}
OUT_DIR=${OUT_DIR:-$top/out}
INSTALLER_NAME=vorlan-cresta-proxy-1100-201805310-linux-x86_64.tar.gz
LAUNCHER=$BUILD_DIR/launcher/vorlan-launcher-i386
export BUILD_DIR

die() {
    printf '%s: %s\n' "${0##*/}" "$*" >&2
    exit 1
}

say() {
    printf '\n### %s\n' "$*"
}

# Runs the i386 installer natively, or under qemu-i386 where the kernel refuses it.
run_i386() {
    if "$LAUNCHER" --version >/dev/null 2>&1; then
        "$@"
    else
        qemu-i386 "$@"
    fi
}

build() {
    say "Building the launchers"
    sh "$top/scripts/build.sh" main || die "build failed"
    ls -l "$BUILD_DIR/launcher/vorlan-launcher-i386" "$BUILD_DIR/launcher/vorlan-launcher-x86_64"
}

build_installer() {
    say "Building the shipped installer"
    mkdir -p "$OUT_DIR" || die "cannot create $OUT_DIR"
    sh "$top/scripts/build-shipped.sh" "$LAUNCHER" "$OUT_DIR" || die "cannot build the installer"
    ls -l "$OUT_DIR/$INSTALLER_NAME"
}

show_installer() {
    cd "$OUT_DIR" || die "cannot enter $OUT_DIR"
    say "./$INSTALLER_NAME --info"
    run_i386 "./$INSTALLER_NAME" --info || die "--info failed"
    say "./$INSTALLER_NAME --check"
    run_i386 "./$INSTALLER_NAME" --check || die "--check failed"
}

# Inside the namespace: tmpfs over every path the installation writes.
install_isolated() {
    for dir in /tmp /etc/opt /opt /var/opt /var/tmp; do
        mkdir -p "$dir" || die "cannot create $dir"
        mount -t tmpfs vorlan-demo "$dir" || die "cannot mount tmpfs on $dir"
    done
    cp "$OUT_DIR/$INSTALLER_NAME" /tmp/ || die "cannot copy the installer"
    cd /tmp || die "cannot enter /tmp"
    say "printf '\\\\n' | ./$INSTALLER_NAME -- --quiet   (as root, isolated)"
    status=0
    printf '\n' | run_i386 "./$INSTALLER_NAME" -- --quiet || status=$?
    say "Installed (exit status $status)"
    list_installed
    [ "$status" = 0 ] || return "$status"
    remove_isolated
}

list_installed() {
    find /opt /etc/opt /var/opt /tmp -mindepth 1 -not -name "$INSTALLER_NAME" \
        -printf '%M %u:%g %10s %p\n' | sort -k4
}

# The removal script stops the service the installation started.
remove_isolated() {
    remover=/etc/opt/vorlansoft/software/vorlan-cresta-proxy.remove
    say "$remover now"
    "$remover" now || die "the removal failed"
    say "Left after the removal"
    list_installed
}

install_demo() {
    if [ "$(id -u)" != 0 ]; then
        say "Not root: skipping the isolated installation"
        return 0
    fi
    export OUT_DIR LAUNCHER
    before=$(snapshot_host)
    unshare -m sh "$top/scripts/main.sh" --isolated || die "the isolated installation failed"
    [ "$(snapshot_host)" = "$before" ] || die "the installation changed the host"
    say "Host untouched: /opt, /etc/opt and /var/opt as they were"
}

snapshot_host() {
    find /opt /etc/opt /var/opt -printf '%M %u:%g %s %T@ %p\n' 2>/dev/null | sort | md5sum
}

if [ "${1:-}" = --isolated ]; then
    install_isolated
    exit
fi
build
build_installer
show_installer
install_demo
