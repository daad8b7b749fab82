#!/bin/sh
# shellcheck source-path=SCRIPTDIR
# The main job: build both launchers and the shipped installer, show what the
# installer holds, and, as root, install it unattended in a private mount
# namespace so that the host's /opt, /etc/opt, /var and /tmp stay untouched.
# The installer is left in OUT_DIR, by default ./out.

PROG=main.sh
top=$(cd "$(dirname "$0")/.." && pwd) || exit 1
# shellcheck source=lib.sh
. "$top/scripts/lib.sh"
# shellcheck source=../product/product.sh
. "$top/product/product.sh"
BUILD_DIR=${BUILD_DIR:-$top/build}
OUT_DIR=${OUT_DIR:-$top/out}
LAUNCHER=$BUILD_DIR/launcher/vorlan-launcher-i386
export BUILD_DIR

say() {
    printf '\n### %s\n' "$*"
}

build() {
    say "Building the launchers"
    sh "$top/scripts/build.sh" main || die "build failed"
    ls -l "$BUILD_DIR/launcher/vorlan-launcher-i386" "$BUILD_DIR/launcher/vorlan-launcher-x86_64" ||
        die "the launchers are missing from $BUILD_DIR/launcher"
}

build_installer() {
    say "Building the shipped installer"
    sh "$top/scripts/build-shipped.sh" "$LAUNCHER" "$OUT_DIR" || die "cannot build the installer"
}

show_installer() {
    cd "$OUT_DIR" || die "cannot enter $OUT_DIR"
    say "./$PRODUCT_FILE --info"
    run_launcher "./$PRODUCT_FILE" --info || die "--info failed"
    say "./$PRODUCT_FILE --check"
    run_launcher "./$PRODUCT_FILE" --check || die "--check failed"
}

install_demo() {
    if [ "$(id -u)" != 0 ]; then
        say "Not root: skipping the isolated installation"
        return 0
    fi
    before=$(snapshot_host)
    unshare -m sh "$top/scripts/demo-install.sh" "$OUT_DIR/$PRODUCT_FILE" ||
        die "the isolated installation failed"
    [ "$(snapshot_host)" = "$before" ] || die "the installation changed the host"
    say "Host untouched: /opt, /etc/opt and /var/opt as they were"
    say "The installer: $OUT_DIR/$PRODUCT_FILE"
}

snapshot_host() {
    find /opt /etc/opt /var/opt -printf '%M %u:%g %s %T@ %p\n' 2>/dev/null | sort | md5sum
}

build
build_installer
show_installer
install_demo
