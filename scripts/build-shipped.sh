#!/bin/sh
# build-shipped.sh LAUNCHER OUTDIR
#
# Builds the shipped installer
#   OUTDIR/vorlan-cresta-proxy-1100-201805310-linux-x86_64.tar.gz
# with the bare launcher LAUNCHER. Its payload holds install.sh,
# defaults.sh, EULA and EULA-RU from payload/ (or from $PAYLOAD_DIR when
# that is set) and the product package built by make-product.sh. The image
# carries the product package's name, so that the directory it extracts
# into by default, "<name>.dir", is the one that defaults.sh names in
# MAKESELF_DIR.

export LC_ALL=C
umask 022

NAME=vorlan-cresta-proxy-1100-201805310-linux-x86_64.tar.gz
PAYLOAD_FILES="install.sh defaults.sh EULA EULA-RU"

SCRIPTS=
LAUNCHER=
OUTDIR=
WORK=

# ---------------------------------------------------------------- helpers

die() {
    echo "build-shipped.sh: $*" >&2
    exit 1
}

cleanup() {
    if [ -n "$WORK" ]; then
        rm -rf "$WORK"
    fi
}

# ------------------------------------------------------------------ steps

check_args() {
    if [ $# -ne 2 ] || [ -z "$1" ] || [ -z "$2" ]; then
        echo "usage: build-shipped.sh LAUNCHER OUTDIR" >&2
        exit 2
    fi
    LAUNCHER=$1
    OUTDIR=$2
    SCRIPTS=$(cd "$(dirname "$0")" && pwd) || die "cannot find the scripts directory"
    PAYLOAD_DIR=${PAYLOAD_DIR:-$(dirname "$SCRIPTS")/payload}
    for file in $PAYLOAD_FILES; do
        [ -f "$PAYLOAD_DIR/$file" ] || die "missing $PAYLOAD_DIR/$file"
    done
}

make_work_dir() {
    mkdir -p "$OUTDIR" || die "cannot create $OUTDIR"
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/build-shipped.XXXXXX") ||
        die "cannot create a temporary directory"
    trap cleanup EXIT
    trap 'exit 1' HUP INT TERM
    mkdir "$WORK/payload" || die "cannot create $WORK/payload"
}

stage_payload() {
    for file in $PAYLOAD_FILES; do
        cp "$PAYLOAD_DIR/$file" "$WORK/payload/$file" || die "cannot copy $file"
    done
    "$SCRIPTS/make-product.sh" "$WORK/payload" || die "cannot build the product package"
    [ -f "$WORK/payload/$NAME" ] || die "the product package $NAME is missing"
}

make_installer() {
    "$SCRIPTS/make-installer.sh" "$LAUNCHER" "$WORK/payload" "$OUTDIR/$NAME" ||
        die "cannot write $OUTDIR/$NAME"
}

# -------------------------------------------------------------- run order

check_args "$@"
make_work_dir
stage_payload
make_installer
