#!/bin/sh
# namespace.sh [MOUNT...] -- COMMAND [ARGS...]: the first program of a
# private mount namespace (run by "unshare -m" as root): makes each MOUNT
# in the order given, then becomes COMMAND. A MOUNT is one of
#   keep:DIR            DIR stays at its own path, whatever the mounts
#                       after it hide (given once, first)
#   tmpfs:OPTIONS:PATH  a fresh tmpfs over PATH, OPTIONS for "mount -o"
#                       (empty: the defaults)
#   overlay:PATH        PATH as it is, but what is written there stays in
#                       memory; its upper layer is /mnt/upper/PATH
#   bind:FROM:TO        FROM seen at TO too
#   dir:PATH            the directory PATH, made if missing
# bind and dir make directories: they must lie in a tmpfs or an overlay
# made before (the one over /mnt included), never on the host's own file
# systems. The kept directory waits, and the overlays' layers lie, on a
# tmpfs over /mnt, made by the first keep or overlay.
set -u

die() {
    echo "namespace.sh: $*" >&2
    exit 99
}

# hold: the tmpfs over /mnt, once.
hold() {
    if [ -n "${held-}" ]; then
        return 0
    fi
    mount -t tmpfs -o mode=0700 vorlan-ns /mnt || die "cannot mount a tmpfs over /mnt"
    held=1
}

# mount_one MOUNT: one of the mounts above.
mount_one() {
    case $1 in
    keep:*)
        kept=${1#keep:}
        hold
        mkdir /mnt/keep || die "cannot make /mnt/keep"
        mount --rbind "$kept" /mnt/keep || die "cannot keep $kept"
        ;;
    tmpfs:*)
        spec=${1#tmpfs:}
        mount -t tmpfs -o "${spec%%:*}" vorlan-test "${spec#*:}" || die "cannot mount a tmpfs over ${spec#*:}"
        ;;
    overlay:*)
        path=${1#overlay:}
        hold
        mkdir -p "/mnt/upper$path" "/mnt/work$path" || die "cannot make the layers of $path"
        mount -t overlay vorlan-test -o "lowerdir=$path,upperdir=/mnt/upper$path,workdir=/mnt/work$path" "$path" ||
            die "cannot mount an overlay over $path"
        ;;
    bind:*)
        spec=${1#bind:}
        mkdir -p "${spec#*:}" || die "cannot make ${spec#*:}"
        mount --bind "${spec%%:*}" "${spec#*:}" || die "cannot bind ${spec%%:*} at ${spec#*:}"
        ;;
    dir:*)
        mkdir -p "${1#dir:}" || die "cannot make ${1#dir:}"
        ;;
    *)
        die "unknown mount: $1"
        ;;
    esac
}

kept=
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    mount_one "$1"
    shift
done
[ $# -gt 1 ] || die "usage: namespace.sh [MOUNT...] -- COMMAND [ARGS...]"
shift
if [ -n "$kept" ]; then
    mkdir -p "$kept" || die "cannot make $kept"
    mount --move /mnt/keep "$kept" || die "cannot move $kept back"
fi
exec "$@"
