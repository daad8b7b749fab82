#!/bin/sh
# shellcheck source-path=SCRIPTDIR
# lint.sh: ansible-lint and yamllint over the ansible directory: the role,
# the example playbook and inventory. ansible-lint runs offline (see
# ansible/.ansible-lint) and keeps its caches in a directory of its own,
# removed afterwards.

PROG=lint.sh
top=$(cd "$(dirname "$0")/../.." && pwd) || exit 1
# shellcheck source=../../scripts/lib.sh
. "$top/scripts/lib.sh"

make_work_dir ansible-lint
cd "$top/ansible" || die "cannot enter $top/ansible"
HOME=$WORK XDG_CACHE_HOME=$WORK/cache ANSIBLE_HOME=$WORK/ansible \
    ansible-lint --nocolor -q || die "ansible-lint found faults"
yamllint --strict . || die "yamllint found faults"
