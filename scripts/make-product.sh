#!/bin/sh
# shellcheck source-path=SCRIPTDIR
# make-product.sh OUTDIR
#
# Builds the product package
#   OUTDIR/vorlan-cresta-proxy-1100-201805310-linux-x86_64.tar.gz
# from product/vorlan-cresta-proxy/ and the English agreement payload/EULA.
#
# The package holds, at top level: vorlan-cresta-proxy.install,
# vorlan-cresta-proxy.remove, vorlan-cresta-proxy.sw (a tar of the tree that
# gets installed under /), vorlan-cresta-proxy.notices and
# vorlan-cresta-proxy.license. The output depends on the sources only: names
# are sorted, every time stamp is the release date, owner and group are 0
# and modes are set here (0755 for programs and directories, 0644 for data),
# and gzip stores no name or time. Building twice gives the same bytes.

export LC_ALL=C
umask 022

PROG=make-product.sh
ROOT=$(cd "$(dirname "$0")/.." && pwd) || exit 1
# shellcheck source=lib.sh
. "$ROOT/scripts/lib.sh"
# shellcheck source=../product/product.sh
. "$ROOT/product/product.sh"

PACKAGE=$PRODUCT_PACKAGE
PKG_FILE=$PRODUCT_FILE
# Programs of the installed tree, relative to its root.
TREE_PROGRAMS="opt/vorlansoft/cresta-proxy/bin/vlproxy etc/opt/vorlansoft/cresta-proxy/init.d/vlproxy"
# Directories the service writes into; they have no files in the sources.
TREE_EMPTY_DIRS="var/opt/vorlansoft/cresta-proxy/run var/opt/vorlansoft/cresta-proxy/log"
DOC_DIR=opt/vorlansoft/cresta-proxy/doc

SRC=
OUTDIR=

# ---------------------------------------------------------------- helpers

# normalise_modes DIR: directories 0755, files 0644.
normalise_modes() {
    find "$1" -type d -exec chmod 0755 {} + || die "cannot set directory modes in $1"
    find "$1" -type f -exec chmod 0644 {} + || die "cannot set file modes in $1"
}

# tar_dir DIR OUTPUT: writes a tar of DIR's contents to OUTPUT, the
# top-level names without a "./" prefix.
tar_dir() {
    (
        out=$2
        cd "$1" || exit 1
        set -- *
        [ -e "$1" ] || exit 1
        tar --format=ustar --sort=name --mtime="$RELEASE_DATE" \
            --owner=0 --group=0 --numeric-owner -cf "$out" -- "$@"
    )
}

# ------------------------------------------------------------------ steps

check_args() {
    if [ $# -ne 1 ] || [ -z "$1" ]; then
        echo "usage: make-product.sh OUTDIR" >&2
        exit 2
    fi
    OUTDIR=$1
}

find_sources() {
    SRC=$ROOT/product/$PACKAGE
    for file in "$SRC/$PACKAGE.install" "$SRC/$PACKAGE.remove" \
        "$SRC/$PACKAGE.notices" "$ROOT/payload/EULA"; do
        [ -f "$file" ] || die "missing $file"
    done
    [ -d "$SRC/tree" ] || die "missing $SRC/tree"
}

make_dirs() {
    mkdir -p "$OUTDIR" || die "cannot create $OUTDIR"
    make_work_dir make-product
    mkdir "$WORK/tree" "$WORK/pkg" || die "cannot create directories in $WORK"
}

stage_tree() {
    cp -R "$SRC/tree/." "$WORK/tree/" || die "cannot copy $SRC/tree"
    for dir in $TREE_EMPTY_DIRS $DOC_DIR; do
        mkdir -p "$WORK/tree/$dir" || die "cannot create $dir"
    done
    cp "$ROOT/payload/EULA" "$WORK/tree/$DOC_DIR/LICENSE" || die "cannot copy the agreement"
    cp "$SRC/$PACKAGE.notices" "$WORK/tree/$DOC_DIR/NOTICES" || die "cannot copy the notices"
    normalise_modes "$WORK/tree"
    for file in $TREE_PROGRAMS; do
        [ -f "$WORK/tree/$file" ] || die "missing program $file"
        chmod 0755 "$WORK/tree/$file" || die "cannot set the mode of $file"
    done
}

stage_package() {
    tar_dir "$WORK/tree" "$WORK/pkg/$PACKAGE.sw" || die "cannot write $PACKAGE.sw"
    cp "$SRC/$PACKAGE.install" "$SRC/$PACKAGE.remove" "$SRC/$PACKAGE.notices" \
        "$WORK/pkg/" || die "cannot copy the package scripts"
    cp "$ROOT/payload/EULA" "$WORK/pkg/$PACKAGE.license" || die "cannot copy the agreement"
    normalise_modes "$WORK/pkg"
    chmod 0755 "$WORK/pkg/$PACKAGE.install" "$WORK/pkg/$PACKAGE.remove" ||
        die "cannot set the modes of the package scripts"
}

# write_package: tar and gzip one after the other, since a pipe's status
# would be gzip's alone.
write_package() {
    tar_dir "$WORK/pkg" "$WORK/$PACKAGE.tar" || die "cannot write $PKG_FILE"
    gzip -n -9 <"$WORK/$PACKAGE.tar" >"$WORK/$PKG_FILE" || die "cannot write $PKG_FILE"
    mv -f "$WORK/$PKG_FILE" "$OUTDIR/$PKG_FILE" || die "cannot write $OUTDIR/$PKG_FILE"
}

# -------------------------------------------------------------- run order

check_args "$@"
find_sources
make_dirs
stage_tree
stage_package
write_package
