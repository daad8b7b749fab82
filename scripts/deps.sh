#!/bin/sh
# shellcheck source-path=SCRIPTDIR
# Installs, from Debian's archive, whatever the build and the tests need and
# the machine lacks. Idempotent: a machine that has everything is not touched.

PROG=deps.sh
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"

# The static launchers: each CPU's compiler from Debian (the machine's own
# g++ for x86_64) against musl; their libraries, and musl for riscv64, for
# which Debian 12 has no musl package, are compiled from Debian's source
# packages, unpacked with dpkg-dev's dpkg-source. The builder compresses
# with zstd and xz.
BUILD_PACKAGES="cmake make g++ g++-i686-linux-gnu g++-aarch64-linux-gnu g++-arm-linux-gnueabihf
    g++-powerpc64le-linux-gnu g++-s390x-linux-gnu g++-riscv64-linux-gnu musl-tools dpkg-dev zstd xz-utils"
# The Debian architectures whose musl the launchers link, besides amd64.
FOREIGN_ARCHES="i386 arm64 armhf ppc64el s390x"
# Development packages needed for amd64 and every foreign architecture,
# each with the runtime library that it pins to its own version:
# Multi-Arch: same, so one version on all of them.
MULTIARCH_PAIRS="musl-dev:musl"
# An older checkout built the 32-bit launcher with these; they conflict with
# Debian's cross compilers, and installing one removes the other.
OLD_PACKAGES="gcc-multilib g++-multilib lib32z1-dev"
# Another apt run holds the lock for a while: wait for it, do not fail.
APT="apt-get -o DPkg::Lock::Timeout=600"
# The launchers of other CPUs run under qemu-user, and the i386 one where the
# kernel refuses 32-bit programs.
RUN_PACKAGES="qemu-user"
TEST_PACKAGES="libgtest-dev bats shellcheck perl procps tmux rpm file clang libclang-rt-14-dev strace e2fsprogs busybox
    lintian groff-base man-db ansible-core ansible-lint yamllint openssh-server openssh-client"
BENCH_PACKAGES="hyperfine time jq"

is_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing_packages() {
    for package in "$@"; do
        is_installed "$package" || printf '%s\n' "$package"
    done
}

ensure_foreign_arches() {
    for arch in $FOREIGN_ARCHES; do
        dpkg --print-foreign-architectures | grep -qx "$arch" && continue
        dpkg --add-architecture "$arch" || die "cannot add the $arch architecture"
    done
}

# update_package_lists: a mirror in the middle of a sync fails one index
# now and then; try again, then go on with the lists that did arrive: the
# install below fails by itself if they lack a package.
update_package_lists() {
    for attempt in 1 2 3; do
        $APT update -qq && return 0
        [ "$attempt" = 3 ] || sleep 10
    done
    echo "deps.sh: apt-get update failed 3 times; trying the install with the lists at hand" >&2
}

# missing_pairs: the development packages of MULTIARCH_PAIRS missing on
# any of the architectures, as DEV:RUNTIME.
missing_pairs() {
    for pair in $MULTIARCH_PAIRS; do
        for arch in amd64 $FOREIGN_ARCHES; do
            if ! is_installed "${pair%%:*}:$arch"; then
                printf '%s\n' "$pair"
                break
            fi
        done
    done
}

# newest_common_version ARCH...: reads the lines of "apt-cache madison PKG
# PKG:ARCH..." and prints the newest version offered for every ARCH, or
# fails. A security update can reach one architecture's index before the
# others'.
newest_common_version() {
    awk -F ' *[|] *' -v arches="$*" '
        BEGIN { count = split(arches, wanted, " ") }
        { for (i = 1; i <= count; i++) if ($3 ~ (" " wanted[i] " Packages$")) offered[$2, wanted[i]] = 1 }
        { versions[$2] = 1 }
        END {
            for (v in versions) {
                all = 1
                for (i = 1; i <= count; i++) if (!((v, wanted[i]) in offered)) all = 0
                if (all) print v
            }
        }' | {
        newest=
        while IFS= read -r version; do
            if [ -z "$newest" ] || dpkg --compare-versions "$version" gt "$newest"; then
                newest=$version
            fi
        done
        [ -n "$newest" ] && printf '%s\n' "$newest"
    }
}

# install_pair DEV:RUNTIME: both packages on every architecture at the
# newest version offered for all. A runtime library already newer on one
# architecture is brought down to it; nothing is removed on the way.
install_pair() {
    dev=${1%%:*} runtime=${1#*:}
    names=$dev packages=
    for arch in $FOREIGN_ARCHES; do
        names="$names $dev:$arch"
    done
    # shellcheck disable=SC2086 # one word per package name
    version=$(apt-cache madison $names | newest_common_version amd64 $FOREIGN_ARCHES) ||
        die "no version of $dev is offered for all of amd64 $FOREIGN_ARCHES"
    for arch in amd64 $FOREIGN_ARCHES; do
        packages="$packages $dev:$arch=$version $runtime:$arch=$version"
    done
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $APT install -y -qq --no-install-recommends --allow-downgrades \
        --no-remove $packages >/dev/null || die "cannot install $dev $version for amd64 $FOREIGN_ARCHES"
}

# remove_old_packages: the multilib packages of an older checkout, which
# would stop the cross compiler's install.
remove_old_packages() {
    old=$(for package in $OLD_PACKAGES; do is_installed "$package" && printf '%s ' "$package"; done)
    [ -n "$old" ] || return 0
    # shellcheck disable=SC2086 # one word per package name
    DEBIAN_FRONTEND=noninteractive $APT remove -y -qq $old >/dev/null ||
        die "cannot remove $old, which conflict with the cross compilers"
}

# check_installed PACKAGE...: fails naming what is still missing.
check_installed() {
    missing=$(missing_packages "$@" | tr '\n' ' ')
    pairs=$(missing_pairs | tr '\n' ' ')
    [ -z "$missing$pairs" ] || die "still missing after the install: $missing${pairs:+(for every architecture) $pairs}"
}

ensure_packages() {
    missing=$(missing_packages "$@" | tr '\n' ' ')
    pairs=$(missing_pairs | tr '\n' ' ')
    if [ -n "$missing$pairs" ]; then
        [ "$(id -u)" = 0 ] || die "missing packages, run as root to install: $missing${pairs:+(pairs) $pairs}"
        ensure_foreign_arches
        remove_old_packages
        update_package_lists
        if [ -n "$missing" ]; then
            # shellcheck disable=SC2086 # one word per package name
            DEBIAN_FRONTEND=noninteractive $APT install -y -qq --no-install-recommends $missing \
                >/dev/null || die "cannot install: $missing"
        fi
        for pair in $pairs; do
            install_pair "$pair"
        done
        check_installed "$@"
    fi
    ensure_source_entries
}

# ensure_source_entries: the build unpacks the libraries' source packages,
# which needs deb-src entries; as root, they are added for the machine's
# own mirror where none are configured.
ensure_source_entries() {
    has_debian_sources && return 0
    [ "$(id -u)" = 0 ] || die "no deb-src entries for Debian's archive; run as root to add them"
    add_entries
}

packages_for() {
    case "$1" in
    build) echo "$BUILD_PACKAGES" ;;
    main) echo "$BUILD_PACKAGES $RUN_PACKAGES" ;;
    test) echo "$BUILD_PACKAGES $RUN_PACKAGES $TEST_PACKAGES" ;;
    bench) echo "$BUILD_PACKAGES $RUN_PACKAGES $BENCH_PACKAGES" ;;
    *) die "usage: deps.sh [build|main|test|bench]" ;;
    esac
}

# The tests source this file for its functions alone.
[ -z "${DEPS_FUNCTIONS_ONLY:-}" ] || return 0

SOURCES_FUNCTIONS_ONLY=1
# shellcheck source=debian-sources.sh
. "$(dirname "$0")/debian-sources.sh"
PROG=deps.sh

packages=$(packages_for "${1:-build}") || exit 1
# shellcheck disable=SC2086 # package names hold no blanks or patterns
ensure_packages $packages
