#!/usr/bin/env bats
# Agreement display, the yes/no question, the certificate question and the
# server daemon probe.

# Shell code for the namespace is single-quoted so that it expands there
# (SC2016); settings such as STATUS are read by helpers.bash (SC2034).
# shellcheck disable=SC2016,SC2034

load helpers

# agreement_bytes FILE [CHARSET]: the agreement as the user must see it.
agreement_bytes() {
    if [ -n "${2-}" ]; then
        iconv -f UTF-8 -t "$2" "$W/$1"
    else
        cat "$W/$1"
    fi
}

# expect_agreement FILE [CHARSET]: the run showed FILE (converted to
# CHARSET) and then asked the question, answered by end of input.
expect_agreement() {
    {
        agreement_bytes "$@"
        printf '%sno\n\nYou have not accepted the License Agreement. Installation aborted.\n' "$ACCEPT_PROMPT"
    } > "$BATS_TEST_TMPDIR/expected"
    cmp "$BATS_TEST_TMPDIR/expected" out
    expect_status 1
}

@test "LANG chooses the agreement text and its encoding" {
    NS_LANG=-unset-        run_install; expect_agreement EULA
    NS_LANG=en_US.UTF-8    run_install; expect_agreement EULA
    NS_LANG=C              run_install; expect_agreement EULA
    NS_LANG=ru_RU.UTF-8    run_install; expect_agreement EULA-RU
    NS_LANG=ru_RU.CP1251   run_install; expect_agreement EULA-RU CP1251
    NS_LANG=RU_RU.CP1251   run_install; expect_agreement EULA-RU CP1251
    NS_LANG=ru_RU.KOI8-R   run_install; expect_agreement EULA-RU KOI8-R
    NS_LANG=ru_RU.koi8r    run_install; expect_agreement EULA-RU KOI8-R
    NS_LANG=ru_UA.KOI8-R   run_install; expect_agreement EULA-RU KOI8-R
    # "ru" anywhere in the value counts.
    NS_LANG=en_US.ru       run_install; expect_agreement EULA-RU
}

@test "the conversions really change the bytes" {
    not cmp -s <(agreement_bytes EULA-RU CP1251) EULA-RU
    not cmp -s <(agreement_bytes EULA-RU CP1251) <(agreement_bytes EULA-RU KOI8-R)
    not cmp -s <(agreement_bytes EULA-RU KOI8-R) EULA-RU
}

@test "Russian locale without EULA-RU shows EULA" {
    rm EULA-RU
    NS_LANG=ru_RU.CP1251 run_install; expect_agreement EULA
    NS_LANG=ru_RU.UTF-8  run_install; expect_agreement EULA
}

@test "Russian 8-bit locale without iconv shows EULA, UTF-8 locale still EULA-RU" {
    # Stand-in which that finds no iconv, as on a machine without it.
    stub which '[ "$1" = iconv ] && exit 1; exec /usr/bin/which "$@"'
    NS_LANG=ru_RU.CP1251 run_install; expect_agreement EULA
    NS_LANG=ru_RU.UTF-8  run_install; expect_agreement EULA-RU
}

@test "missing agreement file: nothing shown, the question still asked" {
    rm EULA
    run_install
    expect_file "$W/out" "${ACCEPT_PROMPT}no

You have not accepted the License Agreement. Installation aborted.
"
    expect_status 1
}

@test "quiet mode prints the agreement without question or yes line" {
    make_proxy_package 0
    NS_LANG=ru_RU.CP1251 run_install --quiet
    {
        agreement_bytes EULA-RU CP1251
        printf '%sPackage installation started, please wait...\n' "$CERT_PROMPT"
        printf 'vorlan-cresta-proxy ran with: now\n\nInstallation completed.\n'
    } | cmp - out
    expect_status 0
    run_install --quiet
    expect_file "$W/out" "$EULA_TEXT
${CERT_PROMPT}$PROXY_INSTALLED"
    expect_status 0
}

@test "yes answers are accepted" {
    make_proxy_package 0
    for answer in y yes Y Yes YES ' yes ' '\tyes'; do
        INPUT="$answer\n" run_install
        expect_file "$W/out" "$EULA_TEXT
${ACCEPT_PROMPT}yes
${CERT_PROMPT}$PROXY_INSTALLED"
        expect_status 0
    done
}

@test "no answers, the empty line and the end of input refuse" {
    for answer in 'n\n' 'no\n' 'N\n' 'No\n' 'NO\n' '\n' '' '  no  \n' 'no\nyes\n'; do
        INPUT=$answer run_install
        expect_file "$W/out" "$EULA_TEXT
${ACCEPT_PROMPT}no

You have not accepted the License Agreement. Installation aborted.
"
        expect_status 1
    done
    [ ! -e install.log ]
}

@test "other answers ask again" {
    make_proxy_package 0
    INPUT='yEs\nok\nyes\n' run_install
    expect_file "$W/out" "$EULA_TEXT
${ACCEPT_PROMPT}Please enter yes or no.
${ACCEPT_PROMPT}Please enter yes or no.
${ACCEPT_PROMPT}yes
${CERT_PROMPT}$PROXY_INSTALLED"
    expect_status 0
    INPUT='nO\nyess\nn\n' run_install
    expect_file "$W/out" "$EULA_TEXT
${ACCEPT_PROMPT}Please enter yes or no.
${ACCEPT_PROMPT}Please enter yes or no.
${ACCEPT_PROMPT}no

You have not accepted the License Agreement. Installation aborted.
"
    expect_status 1
}

@test "an unusable answer cut off by the end of input counts as no" {
    INPUT='ok' run_install
    expect_file "$W/out" "$EULA_TEXT
${ACCEPT_PROMPT}Please enter yes or no.
no

You have not accepted the License Agreement. Installation aborted.
"
    expect_status 1
}

@test "certificate: directories and missing files ask again, a readable file is handed over" {
    make_proxy_package 0
    printf 'CERT\n' > cert.pem
    INPUT="yes\n/etc\n$W/no-such.pem\n$W/cert.pem\n" run_install
    expect_file "$W/out" "$EULA_TEXT
${ACCEPT_PROMPT}yes
${CERT_PROMPT}${CERT_PROMPT}${CERT_PROMPT}$PROXY_INSTALLED"
    expect_status 0
    expect_file seen.vlsrv-certificate-path "$W/cert.pem
"
    expect_file handover.log 'vorlan-cresta-proxy: /tmp/vlsrv-certificate-path regular file 0 0 600
'
}

@test "certificate: an empty answer or the end of input leaves the file empty" {
    make_proxy_package 0
    for input in 'yes\n\n' 'yes\n' 'yes\n/nonexistent\n'; do
        rm -f handover.log seen.*
        INPUT=$input run_install
        expect_status 0
        expect_file seen.vlsrv-certificate-path ''
        expect_file handover.log 'vorlan-cresta-proxy: /tmp/vlsrv-certificate-path regular empty file 0 0 600
'
    done
}

@test "certificate: an unusable path cut off by the end of input is asked for once" {
    make_proxy_package 0
    INPUT="yes\n$W/no-such.pem" run_install
    expect_file "$W/out" "$EULA_TEXT
${ACCEPT_PROMPT}yes
${CERT_PROMPT}$PROXY_INSTALLED"
    expect_file seen.vlsrv-certificate-path ''
}

@test "certificate: five unusable answers in a row end the question as an empty one" {
    make_proxy_package 0
    printf 'CERT\n' > cert.pem
    # The fifth answer is still heard.
    INPUT="yes\ny\ny\n/etc\ny\n$W/cert.pem\n" run_install
    expect_status 0
    expect_file seen.vlsrv-certificate-path "$W/cert.pem
"
    rm seen.*
    INPUT="yes\ny\ny\n/etc\ny\ny\n$W/cert.pem\n" run_install
    expect_file "$W/out" "$EULA_TEXT
${ACCEPT_PROMPT}yes
${CERT_PROMPT}${CERT_PROMPT}${CERT_PROMPT}${CERT_PROMPT}${CERT_PROMPT}No usable certificate path in 5 answers; the certificate can be set later.
$PROXY_INSTALLED"
    expect_status 0
    expect_file seen.vlsrv-certificate-path ''
}

@test "certificate: a path with blanks and backslashes is kept as typed" {
    make_proxy_package 0
    printf 'CERT\n' > 'my cert\x.pem'
    INPUT="yes\n  $W/my cert\\\\x.pem  \n" run_install
    expect_status 0
    expect_file seen.vlsrv-certificate-path "$W/my cert\\x.pem
"
}

@test "certificate question is asked in quiet mode too" {
    make_proxy_package 0
    printf 'CERT\n' > cert.pem
    INPUT="$W/cert.pem\n" run_install --quiet
    expect_status 0
    expect_file seen.vlsrv-certificate-path "$W/cert.pem
"
    grep -qF 'Please enter path to your server certificate.' out
}

@test "daemon status probe sets EPM_NOSTART only when the daemon is stopped" {
    make_proxy_package 0
    pre_ns 'mkdir -p /etc/opt/vorlansoft/software/init.d'
    pre_ns 'printf "#!/bin/sh\necho probe-out\necho probe-err \$* >&2\nexit 1\n" > /etc/opt/vorlansoft/software/init.d/vlsrvd'
    pre_ns 'chmod 0755 /etc/opt/vorlansoft/software/init.d/vlsrvd'
    INPUT='yes\n\n' run_install
    expect_status 0
    grep -qx 'EPM_NOSTART=y' install.log
    # Its error output reaches standard output, its output is discarded.
    grep -qx 'probe-err status' out
    not grep -q 'probe-out' out err
    not grep -q probe err

    rm install.log
    sed -i 's/exit 1/exit 0/' pre.sh
    INPUT='yes\n\n' run_install
    grep -qx 'EPM_NOSTART=unset' install.log

    rm install.log pre.sh
    INPUT='yes\n\n' run_install
    grep -qx 'EPM_NOSTART=unset' install.log

    # Present but not executable: not run.
    rm install.log
    pre_ns 'mkdir -p /etc/opt/vorlansoft/software/init.d'
    pre_ns 'printf "#!/bin/sh\nexit 1\n" > /etc/opt/vorlansoft/software/init.d/vlsrvd'
    INPUT='yes\n\n' run_install
    grep -qx 'EPM_NOSTART=unset' install.log
}

@test "piped answers in a non-quiet run: agreement printed, yes echoed, installed" {
    make_proxy_package 0
    ns_mounts
    printf 'yes\n\n' | SCRIPT_SHELL=$SCRIPT_SHELL in_private_ns "${NS_MOUNTS[@]}" -- bash -c "$NS_BODY" ns "$W"
    STATUS=$(cat status)
    expect_file "$W/out" "$EULA_TEXT
${ACCEPT_PROMPT}yes
${CERT_PROMPT}$PROXY_INSTALLED"
    expect_status 0
}

@test "agreement is paged with more only when input and output are terminals" {
    command -v tmux > /dev/null || skip "tmux is not installed"
    make_proxy_package 0
    # A stand-in more that records its use (the real one would wait for
    # keys) and whose help names the option to return at the end, as
    # util-linux's does.
    stub more "if [ \"\$1\" = --help ]; then echo ' -e, --exit-on-eof     exit on end-of-file'; exit 0; fi
echo \"\$*\" >> '$W/more.log'; [ \"\$1\" = --exit-on-eof ] && shift; cat \"\$@\""
    ns_mounts
    cat > run-tty.sh <<SH
cd '$W'
SCRIPT_SHELL='$SCRIPT_SHELL' unshare -m bash '$NAMESPACE_SH' ${NS_MOUNTS[*]} -- bash -c "\$(cat ns-body)" ns '$W'
echo done > tty.done
SH
    # run_tty SED: run in a terminal with the namespace body edited by SED,
    # answer "no" to the agreement question.
    run_tty() {
        rm -f tty.done status
        printf '%s' "$NS_BODY" | sed "$1" > ns-body
        tmux -L "vl$$" new-session -d -x 200 -y 50 "bash run-tty.sh"
        sleep 0.5
        tmux -L "vl$$" send-keys 'no' Enter 2>/dev/null || true
        wait_for 100 test -e tty.done || true
        tmux -L "vl$$" kill-server 2>/dev/null || true
        [ -e tty.done ]
    }
    # Input from the terminal, output into a pipe: no pager.
    run_tty 's/ > out 2> err/ 2> err | cat > out/'
    grep -qx 'You have not accepted the License Agreement. Installation aborted.' out
    [ ! -e more.log ]
    # Input and output both the terminal: the pager shows the file.
    run_tty 's/ > out 2> err/ 2> err/'
    [ "$(cat status)" = 1 ]
    expect_file more.log '--exit-on-eof EULA
'
    # A more whose help does not name the option is called as it always was.
    rm more.log
    sed -i 's/--exit-on-eof     exit/-e exit/' stub/more
    run_tty 's/ > out 2> err/ 2> err/'
    expect_file more.log 'EULA
'
    # Output a terminal, input not: no pager.
    rm more.log
    run_tty 's/ > out 2> err/ 2> err < \/dev\/null/'
    [ "$(cat status)" = 1 ]
    [ ! -e more.log ]
}
