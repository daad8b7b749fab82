#!/bin/sh
# shellcheck source-path=SCRIPTDIR
# debian-sources.sh entries | fetch DIR
#
# The launchers' libraries are compiled from Debian's own source packages:
# libtomcrypt (MD5), libzstd, xz-utils and zlib (their decoders), and musl
# for the CPUs (riscv64) for which Debian 12 builds no musl package.
#   entries    as root: adds deb-src entries for the Debian suites the
#              machine already uses, from its own configured mirror, where
#              none are configured, and reads their lists.
#   fetch DIR  unpacks each package with apt-get source into DIR, once: a
#              package already unpacked there is not fetched again.

PROG=debian-sources.sh
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"

SOURCE_PACKAGES="libtomcrypt libzstd xz-utils zlib musl"
SOURCES_DIR=/etc/apt/sources.list.d
ADDED=vorlan-installer-deb-src

# debian_uris: the mirrors apt reads Debian's binary packages from.
debian_uris() {
    # shellcheck disable=SC2016 # apt's placeholders, not the shell's
    apt-get indextargets --format '$(REPO_URI) $(ORIGIN) $(TARGET_OF)' |
        awk '$2 == "Debian" && $3 == "deb" { sub("/$", "", $1); print $1 }' | sort -u
}

# has_debian_sources: apt already reads a Debian source list.
has_debian_sources() {
    # shellcheck disable=SC2016 # apt's placeholders
    apt-get indextargets --format '$(ORIGIN) $(TARGET_OF)' | grep -qx 'Debian deb-src'
}

# one_line_entries URIS FILE...: "deb-src" twins of the "deb" lines for
# those mirrors, options (signed-by) included.
one_line_entries() {
    uris=$1
    shift
    awk -v uris="$uris" '
        BEGIN { n = split(uris, u, " "); for (i = 1; i <= n; i++) known[u[i]] = 1 }
        $1 != "deb" { next }
        { uri = $2; if (uri ~ /^\[/) for (i = 2; i <= NF; i++) if ($i ~ /\]$/) { uri = $(i + 1); break } }
        { sub("/$", "", uri) }
        uri in known { sub(/^deb/, "deb-src"); print }' "$@"
}

# deb822_entries URIS FILE...: a "Types: deb-src" copy of each enabled
# stanza of type deb for those mirrors, Signed-By and all.
deb822_entries() {
    uris=$1
    shift
    for file in "$@"; do
        awk -v uris="$uris" '
            BEGIN { RS = ""; n = split(uris, u, " "); for (i = 1; i <= n; i++) known[u[i]] = 1 }
            {
                types = ""; mirror = 0; enabled = 1
                lines = split($0, line, "\n")
                for (i = 1; i <= lines; i++) {
                    if (line[i] ~ /^Types:/) types = line[i]
                    if (line[i] ~ /^Enabled: *no/) enabled = 0
                    if (line[i] ~ /^URIs:/) {
                        m = split(line[i], w, " ")
                        for (j = 2; j <= m; j++) { sub("/$", "", w[j]); if (w[j] in known) mirror = 1 }
                    }
                }
                if (!enabled || !mirror || types !~ /[: ]deb( |$)/) next
                for (i = 1; i <= lines; i++) {
                    if (line[i] ~ /^Types:/) line[i] = "Types: deb-src"
                    print line[i]
                }
                print ""
            }' "$file"
    done
}

# existing FILES...: those of the files that exist.
existing() {
    for file in "$@"; do
        [ -f "$file" ] && printf '%s\n' "$file"
    done
}

write_entries() {
    [ -n "$2" ] || return 0
    printf '# Added by vorlan-installer: the launchers build from these source packages.\n%s\n' "$2" \
        >"$SOURCES_DIR/$ADDED.$1" || die "cannot write $SOURCES_DIR/$ADDED.$1"
}

add_entries() {
    has_debian_sources && return 0
    uris=$(debian_uris | tr '\n' ' ')
    [ -n "$uris" ] || die "apt reads no Debian mirror: cannot add deb-src entries"
    # shellcheck disable=SC2046 # one word per file name, none with blanks
    write_entries list "$(one_line_entries "$uris" $(existing /etc/apt/sources.list "$SOURCES_DIR"/*.list))"
    # shellcheck disable=SC2046
    write_entries sources "$(deb822_entries "$uris" $(existing "$SOURCES_DIR"/*.sources))"
    apt-get -o DPkg::Lock::Timeout=600 update -qq || die "apt-get update failed with the deb-src entries in $SOURCES_DIR"
    has_debian_sources || die "no Debian source lists after adding deb-src entries"
}

# source_versions NAME: the versions of source package NAME apt knows,
# newest first.
source_versions() {
    apt-cache showsrc --only-source "$1" | awk '/^Version:/ { print $2 }' | sort -u | sort_versions
}

# sort_versions: the versions read, newest first, by dpkg's rules.
sort_versions() {
    list=
    while IFS= read -r version; do
        placed='' sorted=''
        for known in $list; do
            if [ -z "$placed" ] && dpkg --compare-versions "$version" gt "$known"; then
                sorted="$sorted $version"
                placed=1
            fi
            sorted="$sorted $known"
        done
        [ -n "$placed" ] || sorted="$sorted $version"
        list=$sorted
    done
    for version in $list; do
        printf '%s\n' "$version"
    done
}

# fetch_package NAME DIR: unpacks NAME's source into DIR/NAME and names it
# in DIR/NAME.dir: "NAME VERSION NAME/DIRECTORY". The newest version whose
# files the mirror serves: a mirror can list a security update in its index
# before its pool holds the files.
fetch_package() {
    [ -s "$2/$1.dir" ] && [ -d "$2/$(cut -d ' ' -f 3 "$2/$1.dir")" ] && return 0
    for version in $(source_versions "$1"); do
        rm -rf "${2:?}/$1" || die "cannot remove $2/$1"
        mkdir "$2/$1" || die "cannot make $2/$1"
        (cd "$2/$1" && apt-get source -qq --only-source "$1=$version" >../"$1.log" 2>&1) || continue
        for dir in "$2/$1"/*/; do
            [ -d "$dir" ] || die "no source directory of $1 in $2/$1"
            dir=${dir%/}
            printf '%s %s %s\n' "$1" "$version" "$1/${dir##*/}" >"$2/$1.dir" || die "cannot write $2/$1.dir"
            return 0
        done
    done
    die "cannot fetch the source of $1 (see $2/$1.log; deb-src entries: sh scripts/deps.sh build as root)"
}

fetch_all() {
    mkdir -p "$1" || die "cannot make $1"
    for package in $SOURCE_PACKAGES; do
        fetch_package "$package" "$1"
    done
}

# The tests source this file for its functions alone.
[ -z "${SOURCES_FUNCTIONS_ONLY:-}" ] || return 0

case ${1:-} in
entries) add_entries ;;
fetch) [ -n "${2:-}" ] || die "usage: debian-sources.sh entries | fetch DIR"; fetch_all "$2" ;;
*) die "usage: debian-sources.sh entries | fetch DIR" ;;
esac
