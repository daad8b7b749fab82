#!/usr/bin/env bats
# The Debian package of the toolkit, built by cpack from the build tree:
# lintian's verdict, then installed with dpkg -i in a private mount
# namespace, used to build and run an installer of a small application, and
# removed with dpkg -r, leaving nothing behind.
#
# In the namespace /usr, /etc and /var are overlays whose upper layers lie
# on a tmpfs (under /mnt/upper), so dpkg, its database and man-db's trigger
# write there and never to the host; /opt and /tmp are fresh tmpfs mounts.
# The test's directory $K stays at its own path, wherever TMPDIR puts it,
# and the host's own root file system is seen at /mnt/host.

load ../helpers/common
load ../helpers/namespace
load ../helpers/host

DEB=vorlan-installer_${VORLAN_VERSION}_all.deb

setup_file() {
    cpack -G DEB -B "$BATS_FILE_TMPDIR/cpack" --config "$BUILD_DIR/CPackConfig.cmake" >/dev/null
}

setup() {
    K=$BATS_TEST_TMPDIR
    PKG=$BATS_FILE_TMPDIR/cpack/$DEB
}

# package_state: whatever of the test could reach the host: the package's
# record in dpkg's database and its own paths (directories by type alone:
# /usr/bin is the system's too), and the test application's directory.
# Not the host's whole database or directories, which package operations
# elsewhere on the machine change at any time.
package_state() {
    dpkg-query -W -f='${db:Status-Abbrev} ${Version}\n' vorlan-installer 2>&1 || true
    find /var/lib/dpkg/info -name 'vorlan-installer.*'
    # shellcheck disable=SC2046 # one path a line, without blanks
    host_state $(dpkg-deb -c "$PKG" | awk '$6 != "./" { p = substr($6, 2); sub(/\/$/, "", p); print p }') /opt/hello
}

# ns_run SCRIPT: the bash text SCRIPT as root in a fresh namespace.
ns_run() {
    K=$K PKG=$PKG in_private_ns keep:"$K" bind:/:/mnt/host overlay:/usr overlay:/etc overlay:/var \
        tmpfs:mode=0755:/opt tmpfs:mode=1777:/tmp -- bash -c "set -e
$1"
}

@test "lintian: every tag fixed or explained by an override" {
    # Lintian leaves temporary files (mldbm-elf-*) behind: in $K, bats removes them.
    TMPDIR=$K run lintian -I -E --pedantic "$PKG"
    [ "$status" -eq 0 ]
    # Lintian says only that it would rather not run as root.
    [ -z "$(printf '%s\n' "$output" | grep -v '^running with root privileges is not recommended!$')" ]
}

@test "the package: for every machine, its files under /usr, tar and the compressors required, qemu-user and openssh-client recommended" {
    [ "$(dpkg-deb -f "$PKG" Architecture)" = all ]
    [ "$(dpkg-deb -f "$PKG" Depends)" = "tar (>= 1.28), zstd, xz-utils" ]
    [ "$(dpkg-deb -f "$PKG" Recommends)" = "qemu-user, openssh-client" ]
    dpkg-deb -c "$PKG" | awk '$1 !~ /^d/ { print $1, $2, $6 }' >"$K/files"
    [ "$(cat "$K/files")" = "-rwxr-xr-x root/root ./usr/bin/vorlan-mkinstaller
-rwxr-xr-x root/root ./usr/libexec/vorlan-installer/vorlan-launcher-aarch64
-rwxr-xr-x root/root ./usr/libexec/vorlan-installer/vorlan-launcher-armv7l
-rwxr-xr-x root/root ./usr/libexec/vorlan-installer/vorlan-launcher-i386
-rwxr-xr-x root/root ./usr/libexec/vorlan-installer/vorlan-launcher-ppc64le
-rwxr-xr-x root/root ./usr/libexec/vorlan-installer/vorlan-launcher-riscv64
-rwxr-xr-x root/root ./usr/libexec/vorlan-installer/vorlan-launcher-s390x
-rwxr-xr-x root/root ./usr/libexec/vorlan-installer/vorlan-launcher-x86_64
-rw-r--r-- root/root ./usr/share/doc/vorlan-installer/README.md
-rw-r--r-- root/root ./usr/share/doc/vorlan-installer/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/vorlan-installer/copyright
-rw-r--r-- root/root ./usr/share/lintian/overrides/vorlan-installer
-rw-r--r-- root/root ./usr/share/man/man1/vorlan-installer.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/vorlan-mkinstaller.1.gz
-rw-r--r-- root/root ./usr/share/vorlan-installer/lib.sh" ]
}

@test "installed with dpkg -i, it builds working installers; dpkg -r leaves nothing" {
    package_state >"$K/host.before"
    # The namespace sees $K only.
    cp "$PKG" "$K/"
    PKG=$K/$DEB
    # shellcheck disable=SC2016 # expanded by the namespace's shell
    ns_run '
        dpkg -i "$PKG" >"$K/dpkg-i.log" 2>&1
        # A small application: a program and an install.sh that copies it.
        app=/tmp/app
        mkdir -p "$app/bin"
        printf "#!/bin/sh\necho hello from the app\n" >"$app/bin/hello"
        chmod 0755 "$app/bin/hello"
        printf "#!/bin/sh\nset -e\nmkdir -p /opt/hello\ncp -p bin/hello /opt/hello/\necho \"installed with \$*\"\n" >"$app/install.sh"
        mkdir -m 0700 /tmp/out
        cd /tmp/out
        command -v vorlan-mkinstaller >"$K/which"
        vorlan-mkinstaller "$app" hello-i386.run >"$K/summary"
        vorlan-mkinstaller --arch x86_64 "$app" hello.run >/dev/null
        ./hello.run -- --verbose >"$K/run.out"
        /opt/hello/hello >>"$K/run.out"
        # The 32-bit image checks out, natively or through qemu-i386.
        if ./hello-i386.run --check >"$K/check32" 2>/dev/null; then :; else
            qemu-i386 ./hello-i386.run --check >"$K/check32"
        fi
        man -w vorlan-mkinstaller vorlan-installer >"$K/man"
        dpkg -r vorlan-installer >"$K/dpkg-r.log" 2>&1
        dpkg-query -W -f="\${db:Status-Abbrev}" vorlan-installer >"$K/status" 2>/dev/null || true
        ls /var/lib/dpkg/info | grep "^vorlan-installer\." >"$K/info" || true
        # Left in /usr or /etc: any file, or a directory the host lacks.
        cd /mnt/upper
        find usr etc ! -type d >"$K/left"
        find usr etc -type d | while read -r d; do
            [ -d "/mnt/host/$d" ] || echo "$d"
        done >>"$K/left"
    '
    [ "$(cat "$K/which")" = /usr/bin/vorlan-mkinstaller ]
    [ "$(head -n 1 "$K/summary")" = "Installer:  hello-i386.run" ]
    [ "$(cat "$K/run.out")" = "Verifying archive integrity... Succeed.
Uncompressing in hello.run.dir...
installed with --verbose
hello from the app" ]
    [ "$(cat "$K/check32")" = "Verifying archive integrity... Succeed." ]
    [ "$(cat "$K/man")" = "/usr/share/man/man1/vorlan-mkinstaller.1.gz
/usr/share/man/man1/vorlan-installer.1.gz" ]
    [ ! -s "$K/status" ] || [ "$(cat "$K/status")" = "un " ]
    [ ! -s "$K/info" ]
    [ ! -s "$K/left" ]
    package_state | diff "$K/host.before" -
}
