#!/usr/bin/env bats
# The deterministic assembly scripts: make-product.sh and build-shipped.sh
# (vorlan-mkinstaller has its own tests in tests/builder/).

load helpers
load ../helpers/image

MTIME_UTC='2018-05-31 00:00:00'

setup() {
    K=$BATS_TEST_TMPDIR
    # Temporary files of the scripts go here, so that the tests can see
    # that none is left behind.
    export TMPDIR=$K/tmp
    mkdir "$TMPDIR"
}

@test "make-product.sh without an output directory prints its usage and exits with 2" {
    run "$SOURCE_DIR/scripts/make-product.sh"
    [ "$status" -eq 2 ]
    [ "$output" = "usage: make-product.sh OUTDIR" ]
}

@test "make-product.sh builds the same bytes twice and leaves no temporary files" {
    build_product "$K/a"
    build_product "$K/b"
    [ "$(ls "$K/a")" = "$PKG_FILE" ]
    cmp "$K/a/$PKG_FILE" "$K/b/$PKG_FILE"
    [ -z "$(ls -A "$TMPDIR")" ]
}

@test "make-product.sh: a failing tar of the package is a failure, nothing written" {
    # tar fails on the package's own members, after the software archive.
    mkdir "$K/bin"
    printf '#!/bin/sh\ncase " $* " in *" %s.install "*) echo "tar: failed" >&2; exit 2 ;; esac\nexec %s "$@"\n' \
        "$PACKAGE" "$(command -v tar)" >"$K/bin/tar"
    chmod 0755 "$K/bin/tar"
    PATH=$K/bin:$PATH run "$SOURCE_DIR/scripts/make-product.sh" "$K/a"
    [ "$status" -eq 1 ]
    [ "$output" = "tar: failed
make-product.sh: cannot write $PKG_FILE" ]
    [ -z "$(ls -A "$K/a")" ]
}

@test "the product package is gzip without a stored name or time, and its members are fixed" {
    build_product "$K/a"
    # Magic, deflate, no flags, mtime 0, best compression, Unix.
    [ "$(od -An -tx1 -N 10 "$K/a/$PKG_FILE" | tr -d ' ')" = 1f8b0800000000000203 ]
    gzip -dc "$K/a/$PKG_FILE" > "$K/pkg.tar"
    run listing "$K/pkg.tar"
    [ "$status" -eq 0 ]
    [ "$output" = "-rwxr-xr-x 0/0 $MTIME_UTC vorlan-cresta-proxy.install
-rw-r--r-- 0/0 $MTIME_UTC vorlan-cresta-proxy.license
-rw-r--r-- 0/0 $MTIME_UTC vorlan-cresta-proxy.notices
-rwxr-xr-x 0/0 $MTIME_UTC vorlan-cresta-proxy.remove
-rw-r--r-- 0/0 $MTIME_UTC vorlan-cresta-proxy.sw" ]
}

@test "the software archive holds the installed tree, sorted, 0/0, fixed time and modes" {
    build_product "$K/a"
    tar -xzf "$K/a/$PKG_FILE" -C "$K" vorlan-cresta-proxy.sw
    run listing "$K/vorlan-cresta-proxy.sw"
    [ "$status" -eq 0 ]
    local d="drwxr-xr-x 0/0 $MTIME_UTC" x="-rwxr-xr-x 0/0 $MTIME_UTC" f="-rw-r--r-- 0/0 $MTIME_UTC"
    [ "$output" = "$d etc/
$d etc/opt/
$d etc/opt/vorlansoft/
$d etc/opt/vorlansoft/cresta-proxy/
$d etc/opt/vorlansoft/cresta-proxy/init.d/
$x etc/opt/vorlansoft/cresta-proxy/init.d/vlproxy
$f etc/opt/vorlansoft/cresta-proxy/vlproxy.conf
$d opt/
$d opt/vorlansoft/
$d opt/vorlansoft/cresta-proxy/
$d opt/vorlansoft/cresta-proxy/bin/
$x opt/vorlansoft/cresta-proxy/bin/vlproxy
$d opt/vorlansoft/cresta-proxy/doc/
$f opt/vorlansoft/cresta-proxy/doc/LICENSE
$f opt/vorlansoft/cresta-proxy/doc/NOTICES
$d var/
$d var/opt/
$d var/opt/vorlansoft/
$d var/opt/vorlansoft/cresta-proxy/
$d var/opt/vorlansoft/cresta-proxy/log/
$d var/opt/vorlansoft/cresta-proxy/run/" ]
}

@test "the package's members are the sources byte for byte, the licence is payload/EULA" {
    unpack_product
    cmp "$K/pkg/vorlan-cresta-proxy.install" "$PRODUCT_SRC/vorlan-cresta-proxy.install"
    cmp "$K/pkg/vorlan-cresta-proxy.remove" "$PRODUCT_SRC/vorlan-cresta-proxy.remove"
    cmp "$K/pkg/vorlan-cresta-proxy.notices" "$PRODUCT_SRC/vorlan-cresta-proxy.notices"
    cmp "$K/pkg/vorlan-cresta-proxy.license" "$SOURCE_DIR/payload/EULA"
    mkdir "$K/sw"
    tar -xf "$K/pkg/vorlan-cresta-proxy.sw" -C "$K/sw"
    cmp "$K/sw/opt/vorlansoft/cresta-proxy/doc/LICENSE" "$SOURCE_DIR/payload/EULA"
    cmp "$K/sw/opt/vorlansoft/cresta-proxy/doc/NOTICES" "$PRODUCT_SRC/vorlan-cresta-proxy.notices"
    cmp "$K/sw/opt/vorlansoft/cresta-proxy/bin/vlproxy" "$TREE_SRC/opt/vorlansoft/cresta-proxy/bin/vlproxy"
    cmp "$K/sw/etc/opt/vorlansoft/cresta-proxy/init.d/vlproxy" "$TREE_SRC/etc/opt/vorlansoft/cresta-proxy/init.d/vlproxy"
    cmp "$K/sw/etc/opt/vorlansoft/cresta-proxy/vlproxy.conf" "$TREE_SRC/etc/opt/vorlansoft/cresta-proxy/vlproxy.conf"
}

@test "make-product.sh gives the same package from a source copy with other modes and times" {
    mkdir "$K/copy"
    cp -R "$SOURCE_DIR/scripts" "$SOURCE_DIR/payload" "$SOURCE_DIR/product" "$K/copy/"
    chmod -R go-rwx "$K/copy/product"
    chmod 0700 "$K/copy/product/$PACKAGE/tree/opt/vorlansoft/cresta-proxy/bin/vlproxy"
    find "$K/copy" -exec touch -d '2001-02-03 04:05:06' {} +
    "$K/copy/scripts/make-product.sh" "$K/b" > /dev/null
    build_product "$K/a"
    cmp "$K/a/$PKG_FILE" "$K/b/$PKG_FILE"
}

@test "build-shipped.sh names the installer after the product package and builds it twice alike" {
    require_launcher "$LAUNCHER_X86_64"
    "$SOURCE_DIR/scripts/build-shipped.sh" "$LAUNCHER_X86_64" "$K/a"
    "$SOURCE_DIR/scripts/build-shipped.sh" "$LAUNCHER_X86_64" "$K/b"
    [ "$(ls "$K/a")" = "$PKG_FILE" ]
    cmp "$K/a/$PKG_FILE" "$K/b/$PKG_FILE"
    [ -z "$(ls -A "$TMPDIR")" ]
}

@test "the shipped payload holds the script, defaults, both agreements and the product package" {
    require_launcher "$LAUNCHER_X86_64"
    "$SOURCE_DIR/scripts/build-shipped.sh" "$LAUNCHER_X86_64" "$K/a"
    payload_of "$K/a/$PKG_FILE" "$LAUNCHER_X86_64" "$K/payload.tar"
    run listing "$K/payload.tar"
    [ "$output" = "-rw-r--r-- 0/0 $MTIME_UTC EULA
-rw-r--r-- 0/0 $MTIME_UTC EULA-RU
-rw-r--r-- 0/0 $MTIME_UTC defaults.sh
-rw-r--r-- 0/0 $MTIME_UTC install.sh
-rw-r--r-- 0/0 $MTIME_UTC $PKG_FILE" ]
    mkdir "$K/x"
    tar -xf "$K/payload.tar" -C "$K/x"
    local f
    for f in install.sh defaults.sh EULA EULA-RU; do
        cmp "$K/x/$f" "$SOURCE_DIR/payload/$f"
    done
    build_product "$K/p"
    cmp "$K/x/$PKG_FILE" "$K/p/$PKG_FILE"
}

@test "build-shipped.sh refuses a payload directory without install.sh" {
    mkdir "$K/payload"
    cp "$SOURCE_DIR/payload/EULA" "$SOURCE_DIR/payload/EULA-RU" "$K/payload/"
    printf 'PKF="C"\n' > "$K/payload/defaults.sh"
    PAYLOAD_DIR=$K/payload run "$SOURCE_DIR/scripts/build-shipped.sh" /bin/true "$K/out"
    [ "$status" -eq 1 ]
    [ "$output" = "build-shipped.sh: missing $K/payload/install.sh" ]
    [ ! -e "$K/out" ]
}
