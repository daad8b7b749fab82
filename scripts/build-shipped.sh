#!/bin/sh
# shellcheck source-path=SCRIPTDIR
# build-shipped.sh LAUNCHER OUTDIR
#
# Builds the shipped installer
#   OUTDIR/vorlan-cresta-proxy-1100-201805310-linux-x86_64.tar.gz
# with the bare launcher LAUNCHER and the vorlan-mkinstaller of the build
# tree BUILD_DIR (by default ./build, built by build.sh). Its payload holds
# install.sh, defaults.sh, EULA and EULA-RU from payload/ (or from
# $PAYLOAD_DIR when that is set) and the product package built by
# make-product.sh, all mode 0644 and dated with the release date, so that
# the installer depends on the sources only. The image carries the product
# package's name, so that the directory it extracts into by default,
# "<name>.dir", is the one that defaults.sh names in MAKESELF_DIR.
#
# The payload is stored as every vendor's is by default, zstd level 19 with
# a 128 MiB window: 27 KB instead of the tar's 72 KB, decoded with a window
# no larger than the tar.

export LC_ALL=C
umask 022

PROG=build-shipped.sh
SCRIPTS=$(cd "$(dirname "$0")" && pwd) || exit 1
# shellcheck source=lib.sh
. "$SCRIPTS/lib.sh"
# shellcheck source=../product/product.sh
. "$SCRIPTS/../product/product.sh"

PAYLOAD_FILES="install.sh defaults.sh EULA EULA-RU"
MKINSTALLER=${BUILD_DIR:-$(dirname "$SCRIPTS")/build}/bin/vorlan-mkinstaller

LAUNCHER=
OUTDIR=

# ------------------------------------------------------------------ steps

check_args() {
    if [ $# -ne 2 ] || [ -z "$1" ] || [ -z "$2" ]; then
        echo "usage: build-shipped.sh LAUNCHER OUTDIR" >&2
        exit 2
    fi
    LAUNCHER=$1
    OUTDIR=$2
    PAYLOAD_DIR=${PAYLOAD_DIR:-$(dirname "$SCRIPTS")/payload}
    for file in $PAYLOAD_FILES; do
        [ -f "$PAYLOAD_DIR/$file" ] || die "missing $PAYLOAD_DIR/$file"
    done
}

stage_payload() {
    mkdir "$WORK/payload" || die "cannot create $WORK/payload"
    for file in $PAYLOAD_FILES; do
        cp "$PAYLOAD_DIR/$file" "$WORK/payload/$file" || die "cannot copy $file"
    done
    "$SCRIPTS/make-product.sh" "$WORK/payload" || die "cannot build the product package"
    [ -f "$WORK/payload/$PRODUCT_FILE" ] || die "the product package $PRODUCT_FILE is missing"
    chmod 0644 "$WORK/payload"/* || die "cannot set the modes of the payload"
}

make_installer() {
    [ -x "$MKINSTALLER" ] || die "no builder at $MKINSTALLER: build the toolkit first"
    mkdir -p "$OUTDIR" || die "cannot create $OUTDIR"
    "$MKINSTALLER" --launcher "$LAUNCHER" --mtime "$RELEASE_DATE" --compress zstd \
        "$WORK/payload" "$OUTDIR/$PRODUCT_FILE" || die "cannot write $OUTDIR/$PRODUCT_FILE"
}

# -------------------------------------------------------------- run order

check_args "$@"
make_work_dir build-shipped
stage_payload
make_installer
