#!/usr/bin/env bats
# Signed images: vorlan-mkinstaller --sign writes IMAGE.sig with the real
# ssh-keygen, from a key file or from a key that a test-started ssh-agent
# holds; --verify accepts what the customer's plain ssh-keygen accepts and
# names each way an image or its signature can fail.

load helpers

NAMESPACE=vorlan-installer-image

setup_file() {
    local f=$BATS_FILE_TMPDIR
    ssh-keygen -q -t ed25519 -N '' -C vendor -f "$f/vendor"
    ssh-keygen -q -t ed25519 -N '' -C other -f "$f/other"
    printf 'vendor@example.com %s\n' "$(cat "$f/vendor.pub")" >"$f/allowed_signers"
    sample_app "$f/app"
    "$MKINSTALLER" --arch x86_64 --sign "$f/vendor" "$f/app" "$f/setup.run" >"$f/summary"
    echo '# another build' >>"$f/app/install.sh"
    "$MKINSTALLER" --arch x86_64 --sign "$f/vendor" "$f/app" "$f/another.run" >/dev/null
}

setup() {
    setup_builder_test
    F=$BATS_FILE_TMPDIR
    cp "$F/setup.run" "$F/setup.run.sig" "$K/"
}

teardown() {
    if [ -n "${AGENT_PID:-}" ]; then
        kill "$AGENT_PID"
        wait "$AGENT_PID" || true
    fi
}

# verify IMAGE [IDENTITY]: --verify against the vendor's allowed signers.
verify() {
    "$MKINSTALLER" --verify --allowed-signers "$F/allowed_signers" --identity "${2:-vendor@example.com}" "$1"
}

# flip_byte FILE OFFSET: the byte at OFFSET with its lowest bit inverted.
flip_byte() {
    local byte
    byte=$(od -An -tu1 -j "$2" -N 1 "$1")
    # shellcheck disable=SC2059 # the format is the byte's octal escape
    printf "\\$(printf %03o $((byte ^ 1)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# refused IMAGE MESSAGE [IDENTITY]: --verify fails with MESSAGE alone.
refused() {
    check_run "" "vorlan-mkinstaller: $2
" 1 -- verify "$1" "${3:-}"
}

@test "signed with a key file: the summary says so, and --verify and plain ssh-keygen accept it" {
    local fingerprint md5 launcher_size
    fingerprint=$(ssh-keygen -l -f "$F/vendor.pub" | cut -d' ' -f2)
    launcher_size=$(stat -c %s "$LAUNCHER_X86_64")
    payload_of "$K/setup.run" "$LAUNCHER_X86_64" "$K/payload"
    md5=$(md5sum <"$K/payload" | cut -c 1-32)
    sed -n '7,8p' "$F/summary" >"$K/signed"
    expect_file "$K/signed" "Signature:  $F/setup.run.sig, namespace $NAMESPACE
Customers verify: ssh-keygen -Y verify -f allowed_signers -I NAME -n $NAMESPACE -s setup.run.sig < setup.run
"
    check_run "Installer:  $K/setup.run
Signature:  good, by vendor@example.com with ED25519 key $fingerprint, namespace $NAMESPACE
Payload:    $(($(stat -c %s "$K/setup.run") - launcher_size - HEADER_SIZE)) bytes, MD5 $md5 as its header records
" "" 0 -- verify "$K/setup.run"
    (cd "$K" && ssh-keygen -Y verify -f "$F/allowed_signers" -I vendor@example.com -n "$NAMESPACE" \
        -s setup.run.sig <setup.run)
}

@test "signed by a key that a test-started ssh-agent holds, its private key file gone" {
    export SSH_AUTH_SOCK=$K/agent.sock
    timeout 120 ssh-agent -D -a "$SSH_AUTH_SOCK" >/dev/null 2>&1 3>&- &
    AGENT_PID=$!
    wait_for 100 test -S "$SSH_AUTH_SOCK"
    cp "$F/vendor" "$F/vendor.pub" "$K/"
    ssh-add -q "$K/vendor" 2>/dev/null
    rm "$K/vendor"
    "$MKINSTALLER" --arch x86_64 --sign "$K/vendor.pub" "$F/app" "$K/agent.run" >/dev/null
    verify "$K/agent.run" >/dev/null
}

@test "--verify reads the layout of an image of each launcher the toolkit has, s390x's big-endian one included" {
    local launcher payload=$K/payload
    printf 'any payload\n' >"$payload"
    for launcher in "$BUILD_DIR"/libexec/vorlan-installer/vorlan-launcher-*; do
        { cat "$launcher"; le64 "$(stat -c %s "$payload")"; printf '%b' "$(md5sum <"$payload" | cut -c 1-32 | sed 's/../\\x&/g')"; cat "$payload"; } \
            >"$K/any.run"
        ssh-keygen -q -Y sign -f "$F/vendor" -n "$NAMESPACE" <"$K/any.run" >"$K/any.run.sig"
        verify "$K/any.run" | tail -n 1 >"$K/payload-line"
        expect_file "$K/payload-line" "Payload:    12 bytes, MD5 $(md5sum <"$payload" | cut -c 1-32) as its header records
"
    done
    [ -f "$BUILD_DIR/libexec/vorlan-installer/vorlan-launcher-s390x" ]
}

@test "a key with a passphrase: ssh-keygen asks for it on the terminal" {
    ssh-keygen -q -t ed25519 -N 'open sesame' -C locked -f "$K/locked"
    printf 'vendor@example.com %s\n' "$(cat "$K/locked.pub")" >"$K/allowed_signers"
    # The builder on a terminal of its own; the answer goes in once asked.
    python3 - "$MKINSTALLER" --arch x86_64 --sign "$K/locked" "$F/app" "$K/locked.run" >"$K/terminal" <<'EOF'
import os, pty, sys
pid, fd = pty.fork()
if pid == 0:
    os.execv(sys.argv[1], sys.argv[1:])
seen, answered = b"", False
while True:
    try:
        data = os.read(fd, 4096)
    except OSError:
        break
    if not data:
        break
    seen += data
    if not answered and b"passphrase: " in seen:
        os.write(fd, b"open sesame\n")
        answered = True
sys.stdout.buffer.write(seen)
sys.exit(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
EOF
    grep -q '^Enter passphrase: ' "$K/terminal"
    "$MKINSTALLER" --verify --allowed-signers "$K/allowed_signers" --identity vendor@example.com "$K/locked.run" >/dev/null
}

@test "without ssh-keygen: what to install, status 1" {
    local tool
    mkdir "$K/bin"
    for tool in mktemp rm; do
        ln -s "$(command -v "$tool")" "$K/bin/$tool"
    done
    check_run "" "vorlan-mkinstaller: cannot find ssh-keygen, which signs and verifies images; install openssh-client (apt-get install openssh-client)
" 1 -- env PATH="$K/bin" /bin/sh "$MKINSTALLER" --verify --allowed-signers "$F/allowed_signers" \
        --identity vendor@example.com "$K/setup.run"
}

@test "an image changed after signing: a byte of the launcher, a byte of the payload" {
    local end corrupt
    flip_byte "$K/setup.run" 1000
    refused "$K/setup.run" "$K/setup.run: changed image: its bytes are not the signed ones, and its launcher is not this toolkit's"
    cp "$F/setup.run" "$K/"
    flip_byte "$K/setup.run" $(($(stat -c %s "$K/setup.run") - 10))
    end=$(stat -c %s "$LAUNCHER_X86_64")
    corrupt="$K/setup.run: corrupt payload: its MD5 is $(tail -c +$((end + HEADER_SIZE + 1)) "$K/setup.run" | md5sum |
        cut -c 1-32), its header records $(bytes_at "$K/setup.run" $((end + 8)) 16 | od -An -tx1 | tr -d ' \n')"
    refused "$K/setup.run" "$corrupt"
    # Corrupted before it was signed: the signature holds, the MD5 does not.
    ssh-keygen -q -Y sign -f "$F/vendor" -n "$NAMESPACE" <"$K/setup.run" >"$K/setup.run.sig"
    refused "$K/setup.run" "$corrupt"
}

@test "refused: a signature by another key, of another image, for another use, a file that is none, no file" {
    ssh-keygen -q -Y sign -f "$F/other" -n "$NAMESPACE" <"$K/setup.run" >"$K/setup.run.sig"
    refused "$K/setup.run" "$K/setup.run: wrong key: $K/setup.run.sig was made by a key that $F/allowed_signers does not list"
    cp "$F/another.run.sig" "$K/setup.run.sig"
    refused "$K/setup.run" "$K/setup.run: signature of another image: $K/setup.run is whole (this toolkit's launcher, the payload matching its MD5), but $K/setup.run.sig was made over other bytes"
    ssh-keygen -q -Y sign -f "$F/vendor" -n file <"$K/setup.run" >"$K/setup.run.sig"
    refused "$K/setup.run" "$K/setup.run.sig: not an installer image's signature: it was made for another use than $NAMESPACE"
    printf 'not a signature\n' >"$K/setup.run.sig"
    refused "$K/setup.run" "$K/setup.run.sig: not an OpenSSH signature"
    rm "$K/setup.run.sig"
    refused "$K/setup.run" "$K/setup.run: no signature: $K/setup.run.sig does not exist"
}

@test "the vendor's key, but the allowed signers give it to someone else" {
    refused "$K/setup.run" "$K/setup.run: wrong identity: $F/allowed_signers does not allow someone@example.com to sign with the key that made $K/setup.run.sig" someone@example.com
}

@test "--sign with an unusable key: status 1, the earlier image and signature untouched, nothing left" {
    printf 'earlier\n' >"$K/out"
    printf 'earlier signature\n' >"$K/out.sig"
    printf 'not a key\n' >"$K/bad"
    run "$MKINSTALLER" --arch x86_64 --sign "$K/bad" "$F/app" "$K/out"
    [ "$status" -eq 1 ]
    [[ "$output" == "vorlan-mkinstaller: $K/out: cannot sign with $K/bad: "* ]]
    run "$MKINSTALLER" --arch x86_64 --sign "$K/none" "$F/app" "$K/out"
    [ "$status" -eq 1 ]
    [ "$output" = "vorlan-mkinstaller: $K/none: cannot read the signing key" ]
    [ "$(cat "$K/out")" = earlier ]
    [ "$(cat "$K/out.sig")" = "earlier signature" ]
    [ -z "$(ls -A "$TMPDIR")" ]
    [ "$(find "$K" -mindepth 1 -maxdepth 1 -printf '%f\n' | sort | tr '\n' ' ')" = "bad out out.sig setup.run setup.run.sig tmp " ]
}

@test "an unsigned build removes the earlier image's signature beside it" {
    "$MKINSTALLER" --arch x86_64 "$F/app" "$K/setup.run" >/dev/null
    [ ! -e "$K/setup.run.sig" ]
}

@test "--verify's usage errors: status 2" {
    run "$MKINSTALLER" --verify --identity vendor "$K/setup.run"
    [ "$status" -eq 2 ]
    [ "${lines[0]}" = "vorlan-mkinstaller: --verify needs --allowed-signers FILE" ]
    run "$MKINSTALLER" --verify --allowed-signers "$F/allowed_signers" "$K/setup.run"
    [ "$status" -eq 2 ]
    [ "${lines[0]}" = "vorlan-mkinstaller: --verify needs --identity NAME" ]
    run "$MKINSTALLER" --verify --allowed-signers "$F/allowed_signers" --identity vendor --compress xz "$K/setup.run"
    [ "$status" -eq 2 ]
    [ "${lines[0]}" = "vorlan-mkinstaller: --verify takes no build options" ]
    run "$MKINSTALLER" --identity vendor "$F/app" "$K/out"
    [ "$status" -eq 2 ]
    [ "${lines[0]}" = "vorlan-mkinstaller: --allowed-signers and --identity go with --verify" ]
}

@test "several CPUs signed at once: a signature beside each image, each its own" {
    run "$MKINSTALLER" --arch x86_64,aarch64,s390x --sign "$F/vendor" "$F/app" "$K/multi.run"
    [ "$status" -eq 0 ]
    local arch
    for arch in x86_64 aarch64 s390x; do
        check_run "" "" 0 -- ssh-keygen -Y verify -q -f "$F/allowed_signers" -I vendor@example.com \
            -n "$NAMESPACE" -s "$K/multi-$arch.run.sig" <"$K/multi-$arch.run"
    done
    not cmp -s "$K/multi-x86_64.run.sig" "$K/multi-aarch64.run.sig"
    [ -z "$(leftovers "$K")" ]
}
