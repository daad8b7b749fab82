#!/usr/bin/env bats
# The role vorlan_installer through the example playbook, run by the real
# ansible-playbook over SSH against three hosts on this machine (see
# helpers.bash), with the shipped installer built from this launcher. The
# cases build on each other: the hosts keep what each case installed.

load helpers

CONF=/etc/opt/vorlansoft/cresta-proxy/vlproxy.conf
VLPROXY=/opt/vorlansoft/cresta-proxy/bin/vlproxy
STATE=$STAGE_DIR/$INSTALLER_NAME.state
LOG=$STAGE_DIR/$INSTALLER_NAME.log

setup_file() {
    start_fleet
    # The shipped installer, and an upgrade: the same rebuilt from a payload
    # whose install.sh differs by a comment, so that its digest differs.
    sh "$SOURCE_DIR/scripts/build-shipped.sh" "$LAUNCHER" "$FLEET/first" >/dev/null
    cp -R "$SOURCE_DIR/payload" "$FLEET/payload"
    echo '# rebuilt for the upgrade' >>"$FLEET/payload/install.sh"
    PAYLOAD_DIR=$FLEET/payload sh "$SOURCE_DIR/scripts/build-shipped.sh" "$LAUNCHER" "$FLEET/upgrade" >/dev/null
    FIRST=$FLEET/first/$INSTALLER_NAME
    UPGRADE=$FLEET/upgrade/$INSTALLER_NAME
    export FIRST UPGRADE
    sign_images
}

# sign_images: the upgrade signed by the vendor's key, the vendor's allowed
# signers, and copies of the upgrade signed by another key (WRONG_KEY) and
# not signed at all (UNSIGNED).
sign_images() {
    ssh-keygen -q -t ed25519 -N '' -C vendor -f "$FLEET/vendor_key"
    ssh-keygen -q -t ed25519 -N '' -C other -f "$FLEET/other_key"
    printf 'vendor@example.com %s\n' "$(cat "$FLEET/vendor_key.pub")" >"$FLEET/allowed_signers"
    ssh-keygen -q -Y sign -f "$FLEET/vendor_key" -n vorlan-installer-image <"$UPGRADE" >"$UPGRADE.sig"
    mkdir "$FLEET/wrong_key" "$FLEET/unsigned"
    WRONG_KEY=$FLEET/wrong_key/$INSTALLER_NAME
    UNSIGNED=$FLEET/unsigned/$INSTALLER_NAME
    export WRONG_KEY UNSIGNED
    cp "$UPGRADE" "$WRONG_KEY"
    cp "$UPGRADE" "$UNSIGNED"
    ssh-keygen -q -Y sign -f "$FLEET/other_key" -n vorlan-installer-image <"$WRONG_KEY" >"$WRONG_KEY.sig"
}

teardown_file() {
    stop_fleet
}

# state_line IMAGE: what the state file holds once IMAGE has run.
state_line() {
    (cd "$(dirname "$1")" && sha256sum "$INSTALLER_NAME")
}

# changed HOST / unchanged HOST / failed HOST: HOST's recap line says so.
changed() {
    recap "$1" | grep -q ' changed=[1-9][0-9]* unreachable=0 failed=0 '
}

unchanged() {
    recap "$1" | grep -q ' changed=0 unreachable=0 failed=0 '
}

failed() {
    recap "$1" | grep -q ' unreachable=0 failed=1 '
}

# What a run may change on a host: the product, the stage directory. The
# service rewrites its status file in run/ every minute by itself.
snapshot() {
    on_host "$1" "find /opt /etc/opt /var/opt $STAGE_DIR -path /var/opt/vorlansoft/cresta-proxy/run -prune \
        -o -printf '%p %m %s %T@\n' | sort"
}

@test "the first run installs on all three hosts" {
    play "$FIRST"
    [ "$(cat "$FLEET/status")" = 0 ]
    for host in $HOSTS; do
        changed "$host"
        on_host "$host" "stat -c '%a %U' $VLPROXY $STAGE_DIR; grep '^certificate=' $CONF;
            tail -n 1 $LOG; ls -A $STAGE_DIR; cat $STATE" >"$FLEET/$host.seen"
        printf '%s\n' "755 root" "700 root" "certificate=" "Installation completed." \
            "$INSTALLER_NAME.log" "$INSTALLER_NAME.state" "$(state_line "$FIRST")" >"$FLEET/expected"
        diff "$FLEET/expected" "$FLEET/$host.seen"
    done
}

@test "a second run with the same image changes nothing and runs nothing" {
    for host in $HOSTS; do
        snapshot "$host" >"$FLEET/$host.before"
    done
    play "$FIRST"
    [ "$(cat "$FLEET/status")" = 0 ]
    for host in $HOSTS; do
        unchanged "$host"
        snapshot "$host" | diff "$FLEET/$host.before" -
    done
}

@test "an upgrade image, signed and verified on the controller, changes all three and keeps the administrator's edit" {
    for host in $HOSTS; do
        on_host "$host" "echo '# tuned on $host' >>$CONF"
    done
    # The allowed signers as content here, as a file's path below.
    printf '{"vorlan_installer_allowed_signers": "%s\\n", "vorlan_installer_signer_identity": "vendor@example.com"}' \
        "$(cat "$FLEET/allowed_signers")" >"$FLEET/signers.json"
    play "$UPGRADE" -e "@$FLEET/signers.json"
    [ "$(cat "$FLEET/status")" = 0 ]
    for host in $HOSTS; do
        changed "$host"
        on_host "$host" "tail -n 1 $CONF; test -f $CONF.new && echo new default beside it; cat $STATE" \
            >"$FLEET/$host.seen"
        printf '%s\n' "# tuned on $host" "new default beside it" "$(state_line "$UPGRADE")" >"$FLEET/expected"
        diff "$FLEET/expected" "$FLEET/$host.seen"
    done
}

@test "a host whose /opt is full fails alone and is reported; its state file stays" {
    on_host host3 "mount -t tmpfs -o size=4k,mode=0755 tiny /opt && stat -c %z $STATE" >"$FLEET/state.before"
    play "$FIRST"
    on_host host3 "umount /opt; stat -c %z $STATE; cat $STATE; tail -n 1 $LOG" >"$FLEET/host3.seen"
    [ "$(cat "$FLEET/status")" = 2 ]
    failed host3
    for host in host1 host2; do
        changed "$host"
    done
    # The message: the installer's status and the log's last lines.
    grep -F 'fatal: [host3]: FAILED! => {"changed": false, "msg": "'"$INSTALLER_NAME exited with status 1; its whole output is in $LOG. The last lines:"'\n' "$FLEET/out" |
        grep -qF '\nInstallation failed."}'
    [ "$(grep -c '^fatal: ' "$FLEET/out")" = 1 ]
    printf '%s\n' "$(cat "$FLEET/state.before")" "$(state_line "$UPGRADE")" "Installation failed." \
        >"$FLEET/expected"
    diff "$FLEET/expected" "$FLEET/host3.seen"
    [ "$(on_host host1 "cat $STATE")" = "$(state_line "$FIRST")" ]
}

@test "check mode reports what would change and changes nothing" {
    for host in $HOSTS; do
        snapshot "$host" >"$FLEET/$host.before"
    done
    play "$UPGRADE" --check
    [ "$(cat "$FLEET/status")" = 0 ]
    # host3 still has the upgrade: the last run failed there.
    for host in host1 host2; do
        changed "$host"
    done
    unchanged host3
    for host in $HOSTS; do
        snapshot "$host" | diff "$FLEET/$host.before" -
    done
}

@test "as a user who becomes root with su: a removed product installed again, with preset answers" {
    on_host host1 "/etc/opt/vorlansoft/software/vorlan-cresta-proxy.remove now >/dev/null && test ! -e $VLPROXY"
    # No --quiet: the preset answers alone must keep the agreement from asking.
    printf '%s' '{"ansible_user": "deploy", "ansible_become_method": "su",
        "ansible_become_password": "'"$SU_PASSWORD"'",
        "vorlan_installer_args": [], "vorlan_installer_keep": true,
        "vorlan_installer_fetch_log": "'"$FLEET/logs"'",
        "vorlan_installer_preseed": {"QUIET_INSTALL": 0, "DEFAULT_BACKUP_DIR": "/var/tmp/it'\''s $HOME"}}' \
        >"$FLEET/vars.json"
    play "$FIRST" --limit host1 -e "@$FLEET/vars.json"
    [ "$(cat "$FLEET/status")" = 0 ]
    changed host1
    on_host host1 "{ /etc/opt/vorlansoft/cresta-proxy/init.d/vlproxy status >/dev/null && echo running; }
        cd $STAGE_DIR && sha256sum -c $INSTALLER_NAME.state && test -f $INSTALLER_NAME.dir/install.sh &&
        stat -c '%a %U' $INSTALLER_NAME.preseed && grep -v '^#' $INSTALLER_NAME.preseed" >"$FLEET/host1.seen"
    printf '%s\n' running "$INSTALLER_NAME: OK" "600 root" "DEFAULT_BACKUP_DIR='/var/tmp/it'\"'\"'s \$HOME'" \
        QUIET_INSTALL=0 >"$FLEET/expected"
    diff "$FLEET/expected" "$FLEET/host1.seen"
    run ! grep -q 'Accept?' "$FLEET/logs/host1/$INSTALLER_NAME.log"
    on_host host1 "cat $LOG" | cmp - "$FLEET/logs/host1/$INSTALLER_NAME.log"
}

@test "a preset answer whose name is no shell variable name stops the role before it stages anything" {
    snapshot host2 >"$FLEET/host2.before"
    play "$UPGRADE" --limit host2 -e '{"vorlan_installer_preseed": {"BAD-NAME": 1}}'
    [ "$(cat "$FLEET/status")" = 2 ]
    failed host2
    grep -qF '"msg": "vorlan_installer_preseed: not a shell variable name: BAD-NAME"' "$FLEET/out"
    snapshot host2 | diff "$FLEET/host2.before" -
}

# refused_on_controller IMAGE MESSAGE [ARGS...]: the play with the vendor's
# allowed signers fails every host with MESSAGE, from the controller, and
# no host changes.
refused_on_controller() {
    local image=$1 message=$2 host
    shift 2
    for host in $HOSTS; do
        snapshot "$host" >"$FLEET/$host.before"
    done
    play "$image" -e "vorlan_installer_allowed_signers=$FLEET/allowed_signers" \
        -e vorlan_installer_signer_identity=vendor@example.com "$@"
    [ "$(cat "$FLEET/status")" = 2 ]
    for host in $HOSTS; do
        failed "$host"
        grep -qF "fatal: [$host]: FAILED! => {\"changed\": false, \"msg\": \"vorlan_installer_src: $message\"}" "$FLEET/out"
        snapshot "$host" | diff "$FLEET/$host.before" -
    done
    run ! grep -q 'TASK \[vorlan_installer : Look for the record' "$FLEET/out"
}

@test "an image signed by another key fails the play on the controller; no host changes" {
    refused_on_controller "$WRONG_KEY" "$WRONG_KEY: its signature $WRONG_KEY.sig does not verify for vendor@example.com with vorlan_installer_allowed_signers: wrong key: it was made by a key that the allowed signers do not list"
}

@test "an unsigned image with vorlan_installer_require_signature fails the play on the controller; no host changes" {
    refused_on_controller "$UNSIGNED" "$UNSIGNED has no signature: $UNSIGNED.sig does not exist on the controller, and vorlan_installer_require_signature is set" \
        -e vorlan_installer_require_signature=true
}

@test "one play, an image per CPU: each host gets the image named for its ansible_architecture" {
    local images=$FLEET/images arch
    arch=$(uname -m)
    mkdir "$images"
    cp "$UPGRADE" "$images/setup-$arch.run"
    # An image for another CPU, which would fail its check on these hosts.
    printf 'not this host'"'"'s image\n' >"$images/setup-aarch64.run"
    (
        cd "$SOURCE_DIR/ansible" &&
            HOME=$FLEET/home ANSIBLE_CONFIG=$FLEET/ansible.cfg \
                ansible-playbook install-per-cpu.yml -e "vorlan_installer_images=$images" \
                -e "vorlan_installer_emulator=$EMULATOR"
    ) </dev/null >"$FLEET/out" 2>&1 || echo "status $?" >>"$FLEET/out"
    cat "$FLEET/out"
    not grep -q '^status ' "$FLEET/out"
    for host in $HOSTS; do
        changed "$host"
        on_host "$host" "cat $STAGE_DIR/setup-$arch.run.state" >"$FLEET/$host.seen"
        (cd "$images" && sha256sum "setup-$arch.run") | diff - "$FLEET/$host.seen"
        on_host "$host" "ls -A $STAGE_DIR" >"$FLEET/$host.staged"
        not grep -q aarch64 "$FLEET/$host.staged"
    done
}

@test "a corrupt image fails at its check: the installer never runs, its log and state stay" {
    mkdir "$FLEET/corrupt"
    cp "$UPGRADE" "$FLEET/corrupt/$INSTALLER_NAME"
    local size
    size=$(stat -c %s "$UPGRADE")
    printf X | dd of="$FLEET/corrupt/$INSTALLER_NAME" bs=1 seek=$((size - 100)) conv=notrunc status=none
    on_host host2 "cat $LOG $STATE" >"$FLEET/host2.before"
    play "$FLEET/corrupt/$INSTALLER_NAME" --limit host2
    [ "$(cat "$FLEET/status")" = 2 ]
    failed host2
    grep -F 'fatal: [host2]: FAILED!' "$FLEET/out" | grep -qF 'Verifying archive integrity... Failed.'
    run ! grep -q 'exited with status' "$FLEET/out"
    on_host host2 "cat $LOG $STATE; test ! -e $STAGE_DIR/$INSTALLER_NAME.dir" | diff "$FLEET/host2.before" -
}
