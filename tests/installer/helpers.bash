# Shared by the end-to-end tests of the shipped installer. Each file runs once
# per launcher (LAUNCHER, LAUNCHER_ARCH), as root.

load ../launcher/helpers

INSTALLER_NAME=vorlan-cresta-proxy-1100-201805310-linux-x86_64.tar.gz
TARGET_DIR=$INSTALLER_NAME.dir

# The shipped installer built with this launcher, once per file.
build_shipped() {
    SHIPPED_DIR=$BATS_FILE_TMPDIR/out
    [ -f "$SHIPPED_DIR/$INSTALLER_NAME" ] && return 0
    sh "$SOURCE_DIR/scripts/build-shipped.sh" "$LAUNCHER" "$SHIPPED_DIR"
}

# in_namespace SCRIPT: runs SCRIPT with bash as root in a private mount
# namespace, with tmpfs over every path an installation writes. WORK stays
# visible at its own path, so the script can leave results there. The script
# runs without -e: it records statuses itself.
in_namespace() {
    local script=$1
    unshare -m bash -euc '
        work=$1 script=$2
        mount --bind "$work" /mnt
        for dir in /tmp /etc/opt /opt /var/opt /var/tmp; do
            mount -t tmpfs vorlan-test "$dir"
        done
        mkdir -p "$work"
        mount --move /mnt "$work"
        cd "$work"
        set +e
        eval "$script"
    ' in_namespace "$WORK" "$script"
}

# A certificate for the question, in a place the installation does not own.
CERT_SETUP='mkdir -p /etc/opt/ssl && printf "%s\n" "-----BEGIN CERTIFICATE-----" MIIB "-----END CERTIFICATE-----" >/etc/opt/ssl/server.pem'
