# shellcheck shell=bash
# Private mount namespaces: a test that writes as root outside its own
# directory does it in one, on tmpfs mounts and overlays that die with it,
# so that the host never changes. namespace.sh makes the mounts.

NAMESPACE_SH=$BATS_TEST_DIRNAME/../helpers/namespace.sh

# What an installation writes, each a fresh tmpfs.
# shellcheck disable=SC2034 # used by the suites
INSTALL_MOUNTS=(tmpfs:mode=1777:/tmp tmpfs:mode=1777:/var/tmp
    tmpfs:mode=0755:/etc/opt tmpfs:mode=0755:/opt tmpfs:mode=0755:/var/opt)

# in_private_ns MOUNT... -- COMMAND [ARGS...]: COMMAND as root in a private
# mount namespace with the MOUNTs that namespace.sh takes. bash runs it, so
# that the functions the helpers export reach COMMAND (dash drops them).
in_private_ns() {
    unshare -m bash "$NAMESPACE_SH" "$@"
}
