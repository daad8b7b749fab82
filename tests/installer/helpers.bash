# Shared by the end-to-end tests of the shipped installer. Each file runs once
# per launcher (LAUNCHER, LAUNCHER_ARCH), as root.

load ../launcher/helpers
load ../helpers/namespace

# shellcheck source=../../product/product.sh
. "$SOURCE_DIR/product/product.sh"
INSTALLER_NAME=$PRODUCT_FILE
TARGET_DIR=$INSTALLER_NAME.dir

# The shipped installer built with this launcher, once per file.
build_shipped() {
    SHIPPED_DIR=$BATS_FILE_TMPDIR/out
    if [ -f "$SHIPPED_DIR/$INSTALLER_NAME" ]; then
        return 0
    fi
    sh "$SOURCE_DIR/scripts/build-shipped.sh" "$LAUNCHER" "$SHIPPED_DIR"
}

# setup_shipped: a work directory that root's namespace can enter, holding
# the shipped installer.
setup_shipped() {
    setup_workdir
    chmod 0755 "$WORK"
    build_shipped
    cp "$SHIPPED_DIR/$INSTALLER_NAME" "$WORK/"
}

# in_namespace SCRIPT: runs SCRIPT with bash as root in a private mount
# namespace, with tmpfs over every path an installation writes, in WORK,
# which stays visible at its own path, so the script can leave results
# there. The script runs without -e: it records statuses itself.
in_namespace() {
    in_private_ns keep:"$WORK" "${INSTALL_MOUNTS[@]}" -- bash -c 'cd "$1" && eval "$2"' in_namespace "$WORK" "$1"
}

# A certificate for the question, in a place the installation does not own.
CERT_SETUP='mkdir -p /etc/opt/ssl && printf "%s\n" "-----BEGIN CERTIFICATE-----" MIIB "-----END CERTIFICATE-----" >/etc/opt/ssl/server.pem'

# on_terminal SESSION LOCALE CERTIFICATE_KEYS: the script that runs the
# installer in a tmux terminal, pages the agreement with space only (the
# pager must return by itself at the end), answers "yes", answers the
# certificate question with CERTIFICATE_KEYS and Enter, and waits for the
# end. It leaves the first page in "paged", the last screen in "screen" and
# the exit status in "status". The tmux server must not hold bats' output
# descriptor open.
on_terminal() {
    printf '%s' "
        tmux -L $1 new-session -d -x 100 -y 30 -c '$WORK' \\
            'LANG=$2 $EMULATOR ./$INSTALLER_NAME; echo \$? >status; sleep 60' 3>&-
        trap 'tmux -L $1 kill-server 2>/dev/null' EXIT
        screen() { tmux -L $1 capture-pane -p -S -300 >screen; }
        wait_for() {
            for _ in \$(seq 150); do screen; grep -q -e \"\$1\" screen && return 0; sleep 0.1; done
            return 1
        }
        wait_for '--More--'
        cp screen paged
        for _ in \$(seq 60); do
            grep -q 'Accept? (yes/NO)' screen && break
            tmux -L $1 send-keys ' '
            sleep 0.2
            screen
        done
        tmux -L $1 send-keys 'yes' Enter
        wait_for 'server certificate'
        tmux -L $1 send-keys $3 Enter
        wait_for 'Installation completed'
        for _ in \$(seq 50); do [ -s status ] && break; sleep 0.1; done
"
}
