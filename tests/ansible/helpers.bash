# Shared by the tests of the Ansible role: a fleet of hosts on this machine,
# each an sshd on its own port of 127.0.0.1 in its own private mount and PID
# namespace, and the real ansible-playbook run against them over SSH.
#
# A host sees fresh tmpfs over /opt, /etc/opt, /var/opt, /tmp, /var/tmp,
# /root, /home, /run and the role's stage directory, and overlays over /etc
# and /var whose upper layers lie in memory: whatever it installs, logs or
# caches stays in memory of its own and dies with it. Each host has a user
# "deploy" who may become root with su and SU_PASSWORD, the root password in
# its own /etc/shadow. The test's directory of the host stays at its path,
# so that sshd finds its configuration and keys there.

load ../launcher/helpers
load ../helpers/namespace

# shellcheck source=../../product/product.sh
. "$SOURCE_DIR/product/product.sh"
INSTALLER_NAME=$PRODUCT_FILE
STAGE_DIR=/var/lib/vorlan-installer
HOSTS="host1 host2 host3"
SU_PASSWORD=vorlan-su-test
# Seconds a host lives at most: a run that never reaches its teardown
# (a killed bats) still leaves no sshd behind for long.
HOST_LIFETIME=900

# What runs in the host's namespace once its mounts are made (see
# start_host): the user, sshd.
# shellcheck disable=SC2016 # expanded by the host's shell
HOST_SCRIPT='
set -e
mkdir -m 0755 /run/sshd
useradd --create-home --shell /bin/sh --password "*" deploy
echo "root:'"$SU_PASSWORD"'" | chpasswd
exec /usr/sbin/sshd -D -e -f "$1/sshd_config"
'

# free_ports N: N ports of 127.0.0.1 that nothing listens on, one a line.
free_ports() {
    python3 -c '
import socket, sys
socks = [socket.socket() for _ in range(int(sys.argv[1]))]
for s in socks:
    s.bind(("127.0.0.1", 0))
print("\n".join(str(s.getsockname()[1]) for s in socks))
' "$1"
}

# make_keys: the client's key, and per host its key, its sshd_config and its
# line in the client's known_hosts.
make_keys() {
    local host port ports
    ssh-keygen -q -t ed25519 -N '' -C vorlan-test -f "$FLEET/client_key"
    ports=$(free_ports 3)
    : >"$FLEET/known_hosts"
    set -- $ports
    for host in $HOSTS; do
        port=$1
        shift
        mkdir -m 0755 "$FLEET/$host"
        ssh-keygen -q -t ed25519 -N '' -C "$host" -f "$FLEET/$host/host_key"
        cp "$FLEET/client_key.pub" "$FLEET/$host/authorized_keys"
        printf '[127.0.0.1]:%s %s\n' "$port" "$(cut -d' ' -f1,2 "$FLEET/$host/host_key.pub")" \
            >>"$FLEET/known_hosts"
        echo "$port" >"$FLEET/$host/port"
        cat >"$FLEET/$host/sshd_config" <<EOF
ListenAddress 127.0.0.1:$port
HostKey $FLEET/$host/host_key
AuthorizedKeysFile $FLEET/$host/authorized_keys
PidFile none
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
PrintMotd no
PrintLastLog no
Subsystem sftp internal-sftp
EOF
    done
}

# write_ansible_config: ansible.cfg and the inventory. Connected as root,
# Ansible skips become (root is the user to become already).
write_ansible_config() {
    local host
    cat >"$FLEET/ansible.cfg" <<EOF
[defaults]
inventory = $FLEET/inventory.ini
interpreter_python = /usr/bin/python3
host_key_checking = True
forks = 3
retry_files_enabled = False
nocolor = True

[ssh_connection]
ssh_args = -F /dev/null -o UserKnownHostsFile=$FLEET/known_hosts -o GlobalKnownHostsFile=/dev/null -o StrictHostKeyChecking=yes -o IdentitiesOnly=yes -o ControlMaster=auto -o ControlPersist=60s
control_path_dir = $FLEET/cp
pipelining = True
EOF
    {
        echo '[vorlan_servers]'
        for host in $HOSTS; do
            echo "$host ansible_port=$(cat "$FLEET/$host/port")"
        done
        echo
        echo '[vorlan_servers:vars]'
        echo 'ansible_host=127.0.0.1'
        echo 'ansible_user=root'
        echo "ansible_ssh_private_key_file=$FLEET/client_key"
        echo 'vorlan_installer_installed_path=/opt/vorlansoft/cresta-proxy/bin/vlproxy'
        echo
        # The role's tasks delegated to the controller would otherwise use
        # ~root/.ansible/tmp, whatever HOME says.
        echo '[controller]'
        echo "localhost ansible_connection=local ansible_remote_tmp=$FLEET/home/.ansible/tmp"
    } >"$FLEET/inventory.ini"
}

# start_host HOST: its namespace and sshd, in the background; waits until
# it answers over SSH (ten seconds at most).
start_host() {
    local host=$1
    unshare -m -p -f --kill-child --mount-proc -- timeout -s KILL "$HOST_LIFETIME" \
        bash "$NAMESPACE_SH" keep:"$FLEET/$host" tmpfs:mode=0755:/run overlay:/etc overlay:/var \
        "${INSTALL_MOUNTS[@]}" tmpfs:mode=0755:/home tmpfs:mode=0700:/root \
        dir:"$STAGE_DIR" tmpfs:mode=0755:"$STAGE_DIR" -- sh -c "$HOST_SCRIPT" "$host" "$FLEET/$host" \
        </dev/null >"$FLEET/$host/sshd.log" 2>&1 3>&- &
    echo $! >"$FLEET/$host/unshare.pid"
    if wait_for 100 on_host "$host" true 2>/dev/null; then
        return 0
    fi
    echo "# $host does not answer; its sshd said:" >&3
    sed 's/^/# /' "$FLEET/$host/sshd.log" >&3
    return 1
}

# stop_host HOST: kills the host's unshare; the kernel then kills the
# namespace's first process and with it everything in the namespace.
# Waits five seconds at most for the first process to be gone.
stop_host() {
    local host=$1 unshare_pid first
    [ -f "$FLEET/$host/unshare.pid" ] || return 0
    unshare_pid=$(cat "$FLEET/$host/unshare.pid")
    first=$(pgrep -P "$unshare_pid")
    kill -KILL "$unshare_pid" 2>/dev/null
    rm -f "$FLEET/$host/unshare.pid"
    [ -n "$first" ] || return 0
    if wait_for 50 not alive "$first" >/dev/null; then
        return 0
    fi
    echo "# $host: process $first still runs" >&3
    return 1
}

# start_fleet: keys, configuration and every host; stops those started when
# one fails.
start_fleet() {
    local host
    FLEET=$BATS_FILE_TMPDIR/fleet
    export FLEET
    mkdir -m 0755 "$FLEET"
    mkdir -m 0700 "$FLEET/home"
    make_keys
    write_ansible_config
    for host in $HOSTS; do
        start_host "$host" || { stop_fleet; return 1; }
    done
}

stop_fleet() {
    local host status=0
    for host in $HOSTS; do
        stop_host "$host" || status=1
    done
    return $status
}

# on_host HOST COMMAND: COMMAND (one shell string) as root on HOST. ssh
# reads no input (-n): it would leave the test's standard input
# non-blocking, which ansible-playbook refuses.
on_host() {
    local host=$1
    shift
    ssh -n -F /dev/null -i "$FLEET/client_key" -o IdentitiesOnly=yes -o BatchMode=yes \
        -o UserKnownHostsFile="$FLEET/known_hosts" -o GlobalKnownHostsFile=/dev/null \
        -o StrictHostKeyChecking=yes -o ControlMaster=no \
        -p "$(cat "$FLEET/$host/port")" root@127.0.0.1 "$@"
}

# play IMAGE [ARGS...]: the example playbook with the inventory of the fleet,
# IMAGE as the role's source, run from the repository's ansible directory.
# Every file Ansible keeps goes into its home directories: FLEET/home on
# the controller (the tasks delegated to it included), and on a host the
# home of the user it connects as, a fresh tmpfs there.
# The output lands in $FLEET/out, the status in $FLEET/status; the output
# is also printed, for bats to show when the test fails.
play() {
    local image=$1 status=0
    shift
    (
        cd "$SOURCE_DIR/ansible" &&
            HOME=$FLEET/home ANSIBLE_CONFIG=$FLEET/ansible.cfg \
                ansible-playbook install.yml -e "vorlan_installer_src=$image" \
                -e "vorlan_installer_emulator=$EMULATOR" "$@"
    ) </dev/null >"$FLEET/out" 2>&1 || status=$?
    echo "$status" >"$FLEET/status"
    cat "$FLEET/out"
}

# recap HOST: HOST's line of the last play's recap, blanks squeezed.
recap() {
    grep "^$1 " "$FLEET/out" | tail -n 1 | tr -s ' '
}
