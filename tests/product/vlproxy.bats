#!/usr/bin/env bats
# The vlproxy program itself, run from the source tree with a configuration
# of the test's own (nothing is installed).

load helpers

PROG=$TREE_SRC/opt/vorlansoft/cresta-proxy/bin/vlproxy

setup() {
    K=$BATS_TEST_TMPDIR
    CFG=$K/vlproxy.conf
    printf -- '-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n' > "$K/good.pem"
    printf 'not a certificate\n' > "$K/bad.pem"
    : > "$K/empty.pem"
    DAEMON=
}

teardown() {
    if [ -n "$DAEMON" ]; then
        kill "$DAEMON" 2>/dev/null || true
    fi
}

# config CERTIFICATE [INTERVAL]: writes the test configuration.
config() {
    {
        echo "# test configuration"
        echo "certificate=$1"
        echo "check_interval=${2:-60}"
        echo "status_file=$K/status"
    } > "$CFG"
}

@test "version prints the release" {
    run "$PROG" version
    [ "$status" -eq 0 ]
    [ "$output" = "vlproxy (Vorlan Cresta Proxy) 1100-201805310" ]
}

@test "an unknown command or a missing one prints the usage and exits with 2" {
    run "$PROG" frobnicate
    [ "$status" -eq 2 ]
    [ "$output" = "usage: vlproxy [-c CONFIG] check|run|status|version" ]
    run "$PROG" -c
    [ "$status" -eq 2 ]
    run "$PROG"
    [ "$status" -eq 2 ]
}

@test "check tells each state of the certificate, succeeding only for a good one" {
    config "$K/good.pem"
    run "$PROG" -c "$CFG" check
    [ "$status" -eq 0 ]
    [ "$output" = "certificate $K/good.pem: ok" ]
    config "$K/bad.pem"
    run "$PROG" -c "$CFG" check
    [ "$status" -eq 1 ]
    [ "$output" = "certificate $K/bad.pem: invalid" ]
    config "$K/empty.pem"
    run "$PROG" -c "$CFG" check
    [ "$status" -eq 1 ]
    [ "$output" = "certificate $K/empty.pem: empty" ]
    config "$K/none.pem"
    run "$PROG" -c "$CFG" check
    [ "$status" -eq 1 ]
    [ "$output" = "certificate $K/none.pem: missing" ]
    config ""
    run "$PROG" -c "$CFG" check
    [ "$status" -eq 1 ]
    [ "$output" = "certificate (not set): unset" ]
}

@test "the last certificate line wins and the value is taken literally, never run" {
    printf 'certificate=%s\ncertificate=%s\n' "$K/bad.pem" "$K/\$(touch $K/ran).pem" > "$CFG"
    run "$PROG" -c "$CFG" check
    [ "$status" -eq 1 ]
    [ "$output" = "certificate $K/\$(touch $K/ran).pem: missing" ]
    [ ! -e "$K/ran" ]
}

@test "a missing configuration file is an error" {
    run "$PROG" -c "$K/nothing.conf" check
    [ "$status" -eq 1 ]
    [ "$output" = "vlproxy: cannot find configuration file $K/nothing.conf" ]
}

@test "run writes the status at once and again after each interval, and stops on SIGTERM" {
    config "$K/good.pem" 1
    "$PROG" -c "$CFG" run > "$K/log" 2>&1 3>&- &
    local pid=$!
    DAEMON=$pid
    local n=0
    until [ -f "$K/status" ]; do
        [ "$n" -lt 50 ] || break
        sleep 0.1
        n=$((n + 1))
    done
    run cat "$K/status"
    [ "${lines[0]}" = "state=ok" ]
    [ "${lines[1]}" = "certificate=$K/good.pem" ]
    [[ "${lines[2]}" =~ ^checked=[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$ ]]
    [ "${lines[3]}" = "pid=$pid" ]
    # The certificate goes bad; the next check, a second later, says so.
    cp "$K/bad.pem" "$K/good.pem"
    sleep 2.5
    run cat "$K/status"
    [ "${lines[0]}" = "state=invalid" ]
    kill -TERM "$pid"
    local rc=0
    wait "$pid" || rc=$?
    [ "$rc" -eq 0 ]
    run cat "$K/status"
    [ "${lines[0]}" = "state=stopped" ]
    run cat "$K/log"
    [ "${lines[0]}" = "vlproxy: started (pid $pid, release 1100-201805310)" ]
    [ "${lines[1]}" = "vlproxy: certificate $K/good.pem: ok" ]
    [ "${lines[2]}" = "vlproxy: certificate $K/good.pem: invalid" ]
    [ "${lines[3]}" = "vlproxy: stopped" ]
    [ "${#lines[@]}" -eq 4 ]
}

@test "status prints the status file, and fails before there is one" {
    config "$K/good.pem"
    run "$PROG" -c "$CFG" status
    [ "$status" -eq 1 ]
    [ "$output" = "vlproxy: no status yet ($K/status is missing)" ]
    printf 'state=ok\n' > "$K/status"
    run "$PROG" -c "$CFG" status
    [ "$status" -eq 0 ]
    [ "$output" = "state=ok" ]
}
