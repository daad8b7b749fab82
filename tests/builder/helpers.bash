# Shared by the tests of vorlan-mkinstaller. The builder under test is the
# build tree's (build/bin/vorlan-mkinstaller), which finds the build's
# launchers and lib.sh as an installed one finds its own.

load ../helpers/common
load ../helpers/image

MKINSTALLER=$BUILD_DIR/bin/vorlan-mkinstaller

# setup_builder_test: K, the test's directory, and a private TMPDIR in it
# so that a test sees whether the builder left anything there.
setup_builder_test() {
    K=$BATS_TEST_TMPDIR
    export TMPDIR=$K/tmp
    mkdir "$TMPDIR"
}

# sample_app DIR: the smallest valid tree, whose install.sh reports where
# and with what it runs.
sample_app() {
    mkdir -p "$1"
    # shellcheck disable=SC2016 # expanded when the installer runs it
    printf '#!/bin/sh\necho "install.sh in ${PWD##*/} with $# args: $*"\n' >"$1/install.sh"
    printf 'data\n' >"$1/data"
}

# leftovers DIR: what a failed or finished build left in TMPDIR and DIR
# besides what the test put there (temporary images start with a dot).
leftovers() {
    ls -A "$TMPDIR"
    find "$1" -maxdepth 1 -name '.*.??????'
}
