# shellcheck shell=bash
# What a test must never change on the host, to be compared before and
# after it.

# host_state PATH...: a line for each PATH: "absent", a directory by its
# type alone, or a file with its type, mode, owner, size and time; a PATH
# ending in "/" stands for every entry of its tree (SQLite's shared-memory
# index, which changes on mere reads, left out).
host_state() {
    local path
    for path in "$@"; do
        if [ ! -e "$path" ]; then
            echo "$path absent"
        elif [ -d "$path" ] && [ "${path%/}" = "$path" ]; then
            echo "$path directory"
        else
            find "$path" ! -name '*-shm' -printf '%p %y %m %u %g %s %T@\n' | LC_ALL=C sort
        fi
    done
}
