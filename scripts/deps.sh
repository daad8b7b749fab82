#!/bin/sh
# shellcheck source-path=SCRIPTDIR
# Installs, from Debian's archive, whatever the build and the tests need and
# the machine lacks. Idempotent: a machine that has everything is not touched.

PROG=deps.sh
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"

# The launchers link zlib statically: zlib1g-dev for amd64, the multilib
# lib32z1-dev for i386 (zlib1g-dev:i386 would bring libc6-dev:i386, which
# conflicts with the multilib). The builder compresses with zstd and xz.
BUILD_PACKAGES="cmake make g++ g++-multilib zlib1g-dev lib32z1-dev zstd xz-utils"
# Development packages needed for amd64 and i386, each with the runtime
# library that it pins to its own version: Multi-Arch: same, so one version
# on both architectures.
MULTIARCH_PAIRS="libtomcrypt-dev:libtomcrypt1 libzstd-dev:libzstd1 liblzma-dev:liblzma5"
# Running the i386 launcher here may need emulation: this kernel can refuse it.
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

ensure_i386() {
    dpkg --print-foreign-architectures | grep -qx i386 && return 0
    dpkg --add-architecture i386 || die "cannot add the i386 architecture"
}

# update_package_lists: a mirror in the middle of a sync fails one index
# now and then; try again, then go on with the lists that did arrive: the
# install below fails by itself if they lack a package.
update_package_lists() {
    for attempt in 1 2 3; do
        apt-get update -qq && return 0
        [ "$attempt" = 3 ] || sleep 10
    done
    echo "deps.sh: apt-get update failed 3 times; trying the install with the lists at hand" >&2
}

# missing_pairs: the development packages of MULTIARCH_PAIRS missing on
# either architecture, as DEV:RUNTIME.
missing_pairs() {
    for pair in $MULTIARCH_PAIRS; do
        if ! is_installed "${pair%%:*}:amd64" || ! is_installed "${pair%%:*}:i386"; then
            printf '%s\n' "$pair"
        fi
    done
}

# newest_common_version: reads the lines of "apt-cache madison PKG PKG:i386"
# and prints the newest version offered for both amd64 and i386, or fails.
# A security update can reach one architecture's index before the other's.
newest_common_version() {
    awk -F ' *[|] *' '
        $3 ~ / amd64 Packages$/ { arches[$2] = arches[$2] " amd64" }
        $3 ~ / i386 Packages$/ { arches[$2] = arches[$2] " i386" }
        END { for (v in arches) if (arches[v] ~ / amd64/ && arches[v] ~ / i386/) print v }' | {
        newest=
        while IFS= read -r version; do
            if [ -z "$newest" ] || dpkg --compare-versions "$version" gt "$newest"; then
                newest=$version
            fi
        done
        [ -n "$newest" ] && printf '%s\n' "$newest"
    }
}

# install_pair DEV:RUNTIME: both packages on both architectures at the newest
# version offered for both. A runtime library already newer on one
# architecture is brought down to it; nothing is removed on the way.
install_pair() {
    dev=${1%%:*} runtime=${1#*:}
    version=$(apt-cache madison "$dev" "$dev:i386" | newest_common_version) ||
        die "no version of $dev is offered for both amd64 and i386"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends --allow-downgrades \
        --no-remove "$dev=$version" "$dev:i386=$version" "$runtime=$version" "$runtime:i386=$version" \
        >/dev/null || die "cannot install $dev $version for amd64 and i386"
}

ensure_packages() {
    missing=$(missing_packages "$@" | tr '\n' ' ')
    pairs=$(missing_pairs | tr '\n' ' ')
    [ -z "$missing$pairs" ] && return 0
    [ "$(id -u)" = 0 ] || die "missing packages, run as root to install: $missing${pairs:+(pairs) $pairs}"
    ensure_i386
    update_package_lists
    if [ -n "$missing" ]; then
        # shellcheck disable=SC2086 # one word per package name
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing \
            >/dev/null || die "cannot install: $missing"
    fi
    for pair in $pairs; do
        install_pair "$pair"
    done
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

packages=$(packages_for "${1:-build}") || exit 1
# shellcheck disable=SC2086 # package names hold no blanks or patterns
ensure_packages $packages
