#!/bin/sh
#
# Vorlan installation script.
#
# Runs inside the directory the installer extracted its payload into, next to
# defaults.sh, the licence agreement texts (EULA, EULA-RU) and the product
# package.  It checks the machine, shows the agreement, asks the questions the
# product package needs and installs the package with the tool of its format.
#
# Flags (QUIET_INSTALL, CLEAN_INSTALL) follow the shell's convention:
# 0 means on, 1 means off.  Every message goes to standard output; the script
# ends with status 0 after a completed installation or the help text, and
# with status 1 otherwise.

# Start values of the settings; defaults.sh and a preset-answers file may
# override them.
DEFAULT_BACKUP_DIR="/var/tmp/vlsrv"
QUIET_INSTALL=1
CLEAN_INSTALL=1
PRESEED_FILE=""
DONT_RESTORE_ADDCONF=""

# A line feed, for building multi-line file contents in variables.
NL='
'

# ---------------------------------------------------------------------------
# Small helpers
# ---------------------------------------------------------------------------

# say TEXT...: print the arguments and a line end.  Used instead of echo for
# anything that may carry user data, since some shells' echo expands
# backslash escapes.
say() {
    printf '%s\n' "$*"
}

# die [LINE...]: print each LINE and end the run with status 1: the
# installation is refused or has failed.
die() {
    for d_line in "$@"; do
        say "$d_line"
    done
    exit 1
}

# showHelp: the help text on the additional arguments.
showHelp() {
    printf '%s Additional arguments:\n' "$0"
    printf '\t--help\t\342\200\223 show this help on additional arguments.\n'
    printf '\t--quiet\t\342\200\223 run the installer in the background mode.\n'
    printf '\t--clean\t- install the Server with default settings not using backup ones.\n'
    printf '\t--preseed <path>\t- use configuration file with preset answers for installer.\n'
    printf '\n'
    printf 'For more information, see the Appendices to Administrator Manual.\n'
}

# checkFilePath PATH DESCRIPTION: succeed silently when PATH is an absolute
# path naming a regular file, otherwise print why not and fail.
checkFilePath() {
    cfp_path=$1
    cfp_desc=$2
    if [ -z "$cfp_path" ]; then
        say "Specify absolute path to $cfp_desc"
        return 1
    fi
    case $cfp_path in
        /*) ;;
        *)
            say "Specify absolute path to $cfp_desc instead \"$cfp_path\""
            return 1
            ;;
    esac
    if [ ! -f "$cfp_path" ]; then
        say "Cannot find $cfp_desc in \"$cfp_path\""
        return 1
    fi
    return 0
}

# findTool NAME: print the program to run for NAME: the XPG4 version when
# there is one, else what `which` finds when that is executable, else the
# bare name (looked up through PATH when it runs).
findTool() {
    if [ -f "/usr/xpg4/bin/$1" ]; then
        say "/usr/xpg4/bin/$1"
        return 0
    fi
    ft_path=$(which "$1" 2>/dev/null)
    if [ -n "$ft_path" ] && [ -x "$ft_path" ]; then
        say "$ft_path"
    else
        say "$1"
    fi
}

# packageIsServer: true for a server package.
packageIsServer() {
    [ "$SERVER_PACKAGE" = "yes" ]
}

# GetPlatform: the running kernel's name in lower case.
GetPlatform() {
    # The bracketed ranges are kept for old tr implementations that need
    # them; the brackets map onto themselves.
    # shellcheck disable=SC2021
    uname -s | LC_ALL=C tr '[A-Z]' '[a-z]'
}

# isHandoverBlocker PATH: true when something other than a regular file or a
# symbolic link sits at PATH (a directory, a FIFO, a device...).  Such an
# object is never replaced.
isHandoverBlocker() {
    [ -e "$1" ] && [ ! -L "$1" ] && [ ! -f "$1" ]
}

# makeHandoverFile PATH [CONTENT]: (re)create the hand-over file PATH as a
# regular file owned by root with mode 0600 holding CONTENT (nothing when
# omitted).
#
# Hand-over files live at fixed, predictable paths in /tmp where anybody may
# have planted something first.  Whatever is there is never opened, followed
# or trusted: the content goes into a private temporary file in the same
# directory, which is then renamed over PATH.  A rename replaces a planted
# symbolic link or a file of another user instead of writing through it.
# A directory (or any other non-regular object that is not a link) at PATH
# is left alone and makes the call fail.
makeHandoverFile() {
    mhf_path=$1
    if isHandoverBlocker "$mhf_path"; then
        return 1
    fi
    mhf_dir=$(dirname "$mhf_path")
    mhf_tmp=$(umask 077 && mktemp "$mhf_dir/.vlsrv-handover.XXXXXXXXXX") ||
        return 1
    if ! chown 0:0 "$mhf_tmp" || ! chmod 0600 "$mhf_tmp" ||
        ! printf '%s' "${2-}" > "$mhf_tmp"; then
        rm -f "$mhf_tmp"
        return 1
    fi
    # mv onto a link to a directory would move the file into that
    # directory, so a link is taken away first.
    if [ -L "$mhf_path" ]; then
        rm -f "$mhf_path"
    fi
    if isHandoverBlocker "$mhf_path" || ! mv -f "$mhf_tmp" "$mhf_path"; then
        rm -f "$mhf_tmp"
        return 1
    fi
    # Something that slipped in between the checks above and the rename
    # could still have received the file; accept only the expected result.
    if [ -e "$mhf_tmp" ] || [ -L "$mhf_path" ] || [ ! -f "$mhf_path" ]; then
        rm -f "$mhf_tmp"
        return 1
    fi
    return 0
}

# ---------------------------------------------------------------------------
# Pre-installation checks
# ---------------------------------------------------------------------------

# envInit: pick the tool versions to run and the software directory.
envInit() {
    SED=$(findTool sed)
    GREP=$(findTool grep)
    ID=$(findTool id)
    TAIL=$(findTool tail)
    if [ "$BUILD_PLATFORM" = "freebsd" ]; then
        SOFTWARE_DIR="/usr/local/etc/vorlansoft/software"
    else
        SOFTWARE_DIR="/etc/opt/vorlansoft/software"
    fi
}

# file_is_not_xml FILE: true unless FILE has a line that starts like an XML
# tag.  An unreadable file counts as not XML.
file_is_not_xml() {
    if [ "$(uname -s)" = "SunOS" ]; then
        # The SunOS pattern has always been written this way: a bracket
        # expression of the characters ":", "s", "p", "a", "c" and "e".
        fnx_pattern='^<[^:space:]'
    else
        fnx_pattern='^<[^[:space:]]'
    fi
    [ -z "$("$GREP" "$fnx_pattern" "$1" 2>/dev/null)" ]
}

# check_older_than_10: refuse a server installation older than version 10
# (its configuration file is not XML).
check_older_than_10() {
    if [ "$(GetPlatform)" = "freebsd" ]; then
        cot_etc="/var/vlsrv/etc"
        cot_prefix="/usr/local/vlsrv"
    else
        cot_etc="/var/opt/vlsrv/etc"
        cot_prefix="/opt/vlsrv"
    fi
    if [ -f "$cot_prefix/bin/vlsrv.sh" ] && [ -f "$cot_etc/vlsrvd.conf" ] &&
        file_is_not_xml "$cot_etc/vlsrvd.conf"; then
        die "Please uninstall previous version of Vorlan Server first. Installation aborted."
    fi
}

# check_old_pkg_formats: refuse when a package of the old rpm or deb
# packaging is installed.  The names belong to the cresta flavour whatever
# flavour this payload is.
check_old_pkg_formats() {
    copf_old=1
    if which rpm >/dev/null 2>&1; then
        for copf_name in vorlan-cresta-server vorlan-cresta-proxy vorlan-cresta; do
            if rpm -q "$copf_name" >/dev/null 2>&1; then
                copf_old=0
                break
            fi
        done
    fi
    if which dpkg >/dev/null 2>&1; then
        if dpkg -l 'vorlan-cresta*' | "$GREP" '^ii' >/dev/null; then
            copf_old=0
        fi
    fi
    if [ "$copf_old" -eq 0 ]; then
        die "Please uninstall previous version of Vorlan Server first. Installation aborted."
    fi
}

# checkRoot: refuse unless the effective user is the superuser.  The last
# "uid=" of id's output is the effective one when both are shown.
checkRoot() {
    cr_uid=$("$ID" | "$SED" 's/.*uid=//;s/(.*//')
    if [ "$cr_uid" = "0" ]; then
        return 0
    fi
    die "" "You must have superuser privileges to run the install.sh script." \
        "Please run \"$MAKESELF_DIR/$(basename "$0")\" as root." ""
}

# checkPlatform: refuse a package built for another platform or for an x86
# word size the machine cannot run.
checkPlatform() {
    if [ "$BUILD_PLATFORM" != "$(GetPlatform)" ]; then
        die "Package target platform and running platform differ. Installation aborted."
    fi
    if [ "$(uname -s)" = "SunOS" ]; then
        cp_machine=$(isainfo -kv | awk '{ print $2 }')
    else
        cp_machine=$(uname -m)
    fi
    if [ "$BUILD_ARCH" = "all" ]; then
        return 0
    fi
    case $cp_machine in
        i*86)
            if [ "$BUILD_ARCH" = "amd64" ]; then
                die "Cannot install 64-bit version of Vorlan Server on a 32-bit operating system."
            fi
            ;;
        x86_64 | amd64)
            if printf '%s\n' "$BUILD_ARCH" | "$GREP" 'i.86' >/dev/null; then
                die "Cannot install 32-bit version of Vorlan Server on a 64-bit operating system."
            fi
            ;;
    esac
    return 0
}

# ---------------------------------------------------------------------------
# Agreement and questions
# ---------------------------------------------------------------------------

# pageText [FILE]: page FILE, or standard input, with more.  The more of
# util-linux waits at the end of the text for "q" without a word on the
# screen, and swallows the answer typed for the question that follows; it
# is asked to return there when its help names --exit-on-eof.  Any other
# more is called as it always was.
pageText() {
    if more --help </dev/null 2>&1 | "$GREP" 'exit-on-eof' >/dev/null; then
        more --exit-on-eof "$@"
    else
        more "$@"
    fi
}

# showLic: show the licence agreement in the user's language and encoding.
# The pager is used only when both standard input and standard output are
# terminals: given a non-terminal standard input, more reads it as one more
# file and would swallow answers piped to the installer.
showLic() {
    sl_file="EULA"
    sl_page=1
    if [ "$QUIET_INSTALL" -ne 0 ] && [ -t 0 ] && [ -t 1 ]; then
        sl_page=0
    fi
    # shellcheck disable=SC2021 # brackets kept for old tr, see GetPlatform
    sl_lang=$(printf '%s' "${LANG-}" | LC_ALL=C tr '[A-Z]' '[a-z]')
    case $sl_lang in
        *ru*)
            if [ -f "EULA-RU" ]; then
                sl_file="EULA-RU"
                sl_charset=""
                case $sl_lang in
                    *1251*) sl_charset="CP1251" ;;
                    *koi8r* | *koi8-r*) sl_charset="KOI8-R" ;;
                esac
                if [ -n "$sl_charset" ]; then
                    sl_iconv=$(which iconv 2>/dev/null)
                    if [ -n "$sl_iconv" ] && [ -f "$sl_iconv" ] && [ -x "$sl_iconv" ]; then
                        if [ "$sl_page" -eq 0 ]; then
                            iconv -f UTF-8 -t "$sl_charset" "$sl_file" | pageText
                        else
                            iconv -f UTF-8 -t "$sl_charset" "$sl_file"
                        fi
                        return 0
                    fi
                    sl_file="EULA"
                fi
            fi
            ;;
    esac
    if [ -f "$sl_file" ]; then
        if [ "$sl_page" -eq 0 ]; then
            pageText "$sl_file"
        else
            cat "$sl_file"
        fi
    fi
    return 0
}

# shownoyes QUESTION: ask QUESTION (backslash escapes expanded) until the
# answer is yes or no; succeed for yes.  Quiet mode answers yes unasked.
# An empty answer, and the end of input, count as no.
shownoyes() {
    if [ "$QUIET_INSTALL" -eq 0 ]; then
        return 0
    fi
    while :; do
        printf '%b (yes/NO) ' "$1" 2>/dev/null
        sny_eof=1
        read -r sny_answer || sny_eof=0
        case $sny_answer in
            y | yes | Y | Yes | YES)
                say "yes"
                return 0
                ;;
            n | no | N | No | NO | "")
                say "no"
                return 1
                ;;
        esac
        say "Please enter yes or no."
        # Nothing more will come: asking again would loop for ever.
        if [ "$sny_eof" -eq 0 ]; then
            say "no"
            return 1
        fi
    done
}

# get_certificate: ask for the server certificate's path and hand it over to
# the product package in CERT_FILE (empty when the certificate comes later).
# Answers piped in (such as those of "yes") may never name a file: after
# five unusable answers in a row the question is left as if Enter had been
# pressed, like the launcher's own questions.
get_certificate() {
    if ! makeHandoverFile "$CERT_FILE"; then
        say "\"$CERT_FILE\" is not a regular file."
        return 1
    fi
    gc_tries=0
    while :; do
        printf 'Please enter path to your server certificate.\n'
        printf 'If you plan to place certificate later, press Enter.\n'
        printf '\n: '
        gc_eof=1
        read -r gc_answer || gc_eof=0
        if [ -z "$gc_answer" ]; then
            return 0
        fi
        if [ -f "$gc_answer" ] && [ -r "$gc_answer" ]; then
            if ! makeHandoverFile "$CERT_FILE" "$gc_answer$NL"; then
                say "\"$CERT_FILE\" is not a regular file."
                return 1
            fi
            return 0
        fi
        # At the end of input the question cannot be answered any more;
        # leave the certificate for later.
        if [ "$gc_eof" -eq 0 ]; then
            return 0
        fi
        gc_tries=$((gc_tries + 1))
        if [ "$gc_tries" -ge 5 ]; then
            say "No usable certificate path in 5 answers; the certificate can be set later."
            return 0
        fi
    done
}

# runInstall: agreement, daemon probe, certificate question, installation.
runInstall() {
    showLic
    if ! shownoyes "To continue the installation, you must accept the License Agreement. Accept?"; then
        die "" "You have not accepted the License Agreement. Installation aborted."
    fi
    # A stopped server daemon must stay stopped after the upgrade.
    if [ -f "$VLSRVD_INIT" ] && [ -x "$VLSRVD_INIT" ]; then
        if ! { "$VLSRVD_INIT" status >/dev/null; } 2>&1; then
            EPM_NOSTART=y
            export EPM_NOSTART
        fi
    fi
    if ! packageIsServer; then
        get_certificate || installationFailed
    fi
    installPackage || installationFailed
    return 0
}

# ---------------------------------------------------------------------------
# Package formats
# ---------------------------------------------------------------------------

# debInstalled NAME: the deb package NAME is installed.
debInstalled() {
    dpkg-query -W -f="\${Status}\n" "$1" 2>/dev/null | "$GREP" ' installed' >/dev/null
}

# rpmInstalled NAME: the rpm package NAME is installed.
rpmInstalled() {
    rpm -qi "$1" >/dev/null 2>&1
}

# tarInstalled NAME: the tar.gz package NAME is installed (its removal
# script is in place).
tarInstalled() {
    [ -f "$SOFTWARE_DIR/$1.remove" ]
}

# pkgInstalled NAME: the SVR4 package NAME is installed.
pkgInstalled() {
    pkginfo "$1" >/dev/null 2>&1
}

# debOlderThan10: the installed deb of this flavour is older than version 10
# (its version lacks the epoch-prefixed form of version 10 and later).
debOlderThan10() {
    dot_version=$(dpkg-query -W "vorlan-$FLAVOUR" | "$TAIL" -n 1 | awk '{ print $2 }')
    if printf '%s\n' "$dot_version" |
        "$GREP" '^[0-9]\+:[0-9]\+\.[0-9]\+\.[0-9]\+-[0-9]\+' >/dev/null; then
        return 1
    fi
    return 0
}

# untargz ARCHIVE...: unpack the archives, without tar's notes about a lone
# zero block.  The status is of no use: a failed unpacking shows up in the
# steps that follow.
untargz() {
    env LANG=C tar xf "$@" 2>&1 | "$GREP" -v 'A lone zero block at'
    return 0
}

# rpmErase NAME...: remove rpm packages, hiding the warnings about files an
# updater has already deleted.  The status is rpm's own.
rpmErase() {
    # rpm's status travels through descriptor 3 while its filtered output
    # goes to the real standard output through descriptor 4.
    {
        re_status=$(
            {
                {
                    env LANG=C rpm -e "$@" 2>&1
                    echo "$?" >&3
                } | "$GREP" -v '^warning:.*No such file or directory$' >&4
            } 3>&1
        )
    } 4>&1
    return "$re_status"
}

# isInstalled NAME: the format's test for an installed package.
isInstalled() {
    case $UNIX_PACK_FMT in
        deb) debInstalled "$1" ;;
        rpm) rpmInstalled "$1" ;;
        tar.gz) tarInstalled "$1" ;;
        pkg.gz) pkgInstalled "$1" ;;
        *) unknPackageFormat ;;
    esac
}

# removePackage NAME: the format's removal command.
removePackage() {
    case $UNIX_PACK_FMT in
        deb) dpkg -P "$1" ;;
        rpm) rpmErase "$1" ;;
        tar.gz) "$SOFTWARE_DIR/$1.remove" now ;;
        pkg.gz) pkgrm "$1" ;;
        *) unknPackageFormat ;;
    esac
}

# installTarGz: unpack the product package and run its install scripts.
installTarGz() {
    untargz ./*.tar.gz
    itg_script="vorlan-$FLAVOUR.install"
    if [ -f "$itg_script" ]; then
        # Reserve 200 MB under /var for the server's data.
        sed 's|^for req in|for req in "/var 204800"|' "$itg_script" > "$itg_script.new" &&
            mv -f "$itg_script.new" "$itg_script" &&
            chmod +x "$itg_script" || return 1
    fi
    for itg_file in *.install; do
        "./$itg_file" now || return 1
    done
    return 0
}

# installPkgGz: unpack and add the SVR4 packages.
installPkgGz() {
    gzip -f -d ./*.pkg.gz 2>/dev/null
    for ipg_file in *.pkg; do
        pkgadd -d "$ipg_file" || return 1
    done
    return 0
}

# installFiles: the format's install steps.
installFiles() {
    case $UNIX_PACK_FMT in
        deb) dpkg -i ./*.deb ;;
        rpm) rpm -Uhv ./*.rpm ;;
        tar.gz) installTarGz ;;
        pkg.gz) installPkgGz ;;
        *) unknPackageFormat ;;
    esac
}

# unknPackageFormat: the payload names a format this script cannot install.
unknPackageFormat() {
    die "Unknown package format \"$UNIX_PACK_FMT\"."
}

# ---------------------------------------------------------------------------
# Server installation
# ---------------------------------------------------------------------------

# setEtcDir: directory of the additional configuration files.
setEtcDir() {
    if [ "$(GetPlatform)" = "freebsd" ]; then
        ETC_DIR="/var/vlsrv/etc"
    else
        ETC_DIR="/var/opt/vlsrv/etc"
    fi
}

# backupAddConfs: copy the additional configuration files aside before the
# installed server is removed.
backupAddConfs() {
    say "=== Backing up additional configuration files."
    setEtcDir
    CONF_TMP_DIR=$(mktemp -d /tmp/tmp.XXXXXXXXXX) || return 1
    for bac_name in $ADD_CONFS; do
        say "Backup \"$ETC_DIR/$bac_name\" --> \"$CONF_TMP_DIR/$bac_name\""
        cp -a "$ETC_DIR/$bac_name" "$CONF_TMP_DIR/$bac_name" 2>/dev/null
    done
    return 0
}

# restoreAddConfs: put the additional configuration files back (unless no
# backup is used) and drop the copies.
restoreAddConfs() {
    if [ -z "$CONF_TMP_DIR" ]; then
        return 0
    fi
    if [ -z "$DONT_RESTORE_ADDCONF" ]; then
        say "=== Restoring additional configuration files."
        for rac_name in $ADD_CONFS; do
            say "Restore \"$CONF_TMP_DIR/$rac_name\" --> \"$ETC_DIR/$rac_name\""
            cp -a "$CONF_TMP_DIR/$rac_name" "$ETC_DIR/$rac_name" 2>/dev/null
        done
    fi
    rm -rf "$CONF_TMP_DIR"
    return 0
}

# isRootPath PATH: true when PATH is empty, is made of nothing but ".", ".."
# and slashes, or is an existing directory that resolves to "/".
isRootPath() {
    case $1 in
        "") return 0 ;;
        *[!/.]*) ;;
        *)
            # Only dots and slashes: every component is "", "." or ".."
            # unless some component is a name like "...".
            irp_rest=$1
            irp_named=1
            while [ -n "$irp_rest" ]; do
                irp_comp=${irp_rest%%/*}
                case $irp_comp in
                    "" | . | ..) ;;
                    *) irp_named=0 ;;
                esac
                case $irp_rest in
                    */*) irp_rest=${irp_rest#*/} ;;
                    *) irp_rest="" ;;
                esac
            done
            if [ "$irp_named" -ne 0 ]; then
                return 0
            fi
            ;;
    esac
    if [ -d "$1" ]; then
        case $1 in
            -*) irp_dir="./$1" ;;
            *) irp_dir=$1 ;;
        esac
        if [ "$(cd -P "$irp_dir" 2>/dev/null && pwd -P)" = "/" ]; then
            return 0
        fi
    fi
    return 1
}

# rmBackupDir: clear the default backup directory, so that it holds only the
# backup the removal of the installed server leaves.  A path that is empty
# or names the root directory is refused rather than removed.
rmBackupDir() {
    if isRootPath "$DEFAULT_BACKUP_DIR"; then
        say "Refusing to remove backup directory \"$DEFAULT_BACKUP_DIR\"."
        return 1
    fi
    rm -rf "$DEFAULT_BACKUP_DIR" 2>/dev/null
    return 0
}

# uninstHeader: header of the removal of the installed package.
uninstHeader() {
    say "=== Removing the $FLAVOUR package currently installed."
}

# checkRegularFile PATH: PATH is empty, or is (now) a private regular file.
checkRegularFile() {
    if [ -z "$1" ]; then
        return 0
    fi
    if isHandoverBlocker "$1" || ! makeHandoverFile "$1"; then
        say "\"$1\" is not a regular file."
        return 1
    fi
    return 0
}

# askBackupDir: choose the backup to restore the server's settings from and
# hand it over in BDIR_FILE (an empty line: no backup).
askBackupDir() {
    BDIR=$DEFAULT_BACKUP_DIR
    makeHandoverFile "$BDIR_FILE" || return 1
    if [ "$CLEAN_INSTALL" -eq 0 ]; then
        BDIR=""
        DONT_RESTORE_ADDCONF=1
        makeHandoverFile "$BDIR_FILE" "$NL"
        return
    fi
    if [ "$QUIET_INSTALL" -eq 0 ]; then
        makeHandoverFile "$BDIR_FILE" "$BDIR$NL"
        return
    fi
    say ""
    say "To use settings from the previous installation, set the path to the backup."
    say "To use the backup from the default path ($BDIR), press Enter."
    say "To install the Server with default settings not using backup ones, enter 0."
    say ""
    printf ': '
    abd_answer=""
    read -r abd_answer
    if [ "$abd_answer" = "0" ]; then
        BDIR=""
        DONT_RESTORE_ADDCONF=1
    elif [ -n "$abd_answer" ]; then
        BDIR=$abd_answer
    fi
    makeHandoverFile "$BDIR_FILE" "$BDIR$NL"
}

# dataNotRestored: true unless a backup directory was chosen and exists now.
dataNotRestored() {
    if [ -n "$BDIR" ] && [ -d "$BDIR" ]; then
        return 1
    fi
    return 0
}

# adminPassword: ten random letters and digits for the administrator, or
# "kelp" without a line end when there is no random source.
adminPassword() {
    if [ -r /dev/urandom ]; then
        (LC_ALL=C tr -cd '[:alnum:]' < /dev/urandom | fold -w 10 | head -n 1) 2>/dev/null
    else
        (printf 'kelp' | LC_ALL=C tr -cd '[:alnum:]' | fold -w 10 | head -n 1) 2>/dev/null
    fi
}

# createInitdbFile: the database initialization file for a server that
# starts without a backup: three "-" lines and the administrator password.
createInitdbFile() {
    if [ -r /dev/urandom ]; then
        cif_pass="$(adminPassword)$NL"
    else
        cif_pass=$(adminPassword)
    fi
    makeHandoverFile "$INITDB_FILE" "-$NL-$NL-$NL$cif_pass"
}

# prepareServerInstall: the hand-over files a server package's install step
# reads.
prepareServerInstall() {
    checkRegularFile "$BDIR_FILE" || return 1
    askBackupDir || return 1
    if dataNotRestored; then
        checkRegularFile "$INITDB_FILE" || return 1
        createInitdbFile || return 1
    fi
    return 0
}

# printAdminPass: show the generated administrator password.
printAdminPass() {
    say ""
    if [ -n "$INITDB_FILE" ] && [ -f "$INITDB_FILE" ] && [ ! -L "$INITDB_FILE" ]; then
        printf 'Automatically generated administrator password is '
        "$TAIL" -n 1 "$INITDB_FILE"
    else
        say "Cannot find database initialization file, try to use default password (kelp)."
    fi
    say ""
}

# removeInitdbFile: the password must not stay behind in /tmp.
removeInitdbFile() {
    if [ -n "$INITDB_FILE" ] && [ -f "$INITDB_FILE" ]; then
        rm -f "$INITDB_FILE"
    fi
}

# installPackage: install the product package with its format's tool,
# replacing an installed server package of the same flavour.
installPackage() {
    say "Package installation started, please wait..."
    CONF_TMP_DIR=""
    case $UNIX_PACK_FMT in
        deb | rpm | tar.gz | pkg.gz) ;;
        *) unknPackageFormat ;;
    esac
    if packageIsServer && isInstalled "vorlan-$FLAVOUR"; then
        ip_keep_backup=1
        if [ "$UNIX_PACK_FMT" = "deb" ] && debOlderThan10; then
            # Versions before 10 kept their backup in the home directory,
            # and that backup must survive.
            DEFAULT_BACKUP_DIR="$HOME/vlsrv"
            ip_keep_backup=0
        fi
        backupAddConfs || return 1
        if isInstalled "vorlan-cresta-extra"; then
            uninstHeader
            shownoyes "$EXTRA_UNINST_WARNING" || return 1
            removePackage "vorlan-cresta-extra" || return 1
        fi
        if [ "$ip_keep_backup" -ne 0 ]; then
            rmBackupDir || return 1
        fi
        removePackage "vorlan-$FLAVOUR" || return 1
    fi
    if packageIsServer; then
        prepareServerInstall || return 1
    fi
    installFiles || return 1
    if [ "$UNIX_PACK_FMT" = "rpm" ] && packageIsServer; then
        # rpm reports success even when a post-install script failed; the
        # verification tells whether the package really is in place.
        rpm -V --nofiles "vorlan-$FLAVOUR" || return 1
    fi
    restoreAddConfs
    return 0
}

# installationCompleted: closing lines of a successful run.
installationCompleted() {
    if packageIsServer && dataNotRestored; then
        printAdminPass
        removeInitdbFile
    fi
    say ""
    say "Installation completed."
    exit 0
}

# installationFailed: closing lines of a failed run.
installationFailed() {
    if packageIsServer && dataNotRestored; then
        removeInitdbFile
    fi
    die "" "Installation failed."
}

# ---------------------------------------------------------------------------
# Run order
# ---------------------------------------------------------------------------

# Physically: by its name, the directory may by now be someone else's.
cd -P "$(dirname "$0")" || die

# defaults.sh is written for each payload (SERVER_PACKAGE, PKF, BUILD_ARCH,
# UNIX_PACK_FMT, BUILD_PLATFORM, MAKESELF_DIR); the checker need not read it.
# shellcheck disable=SC1091
. ./defaults.sh

case $PKF in
    C) FLAVOUR="cresta" ;;
    P) FLAVOUR="pelago" ;;
    *)
        die "Unknown PKF=\"$PKF\""
        ;;
esac

while [ "$#" -gt 0 ]; do
    case $1 in
        --quiet) QUIET_INSTALL=0 ;;
        --clean) CLEAN_INSTALL=0 ;;
        --preseed)
            shift
            checkFilePath "${1-}" "configuration file" || die
            PRESEED_FILE=$1
            ;;
        --help)
            showHelp
            exit 0
            ;;
        *)
            die "Unknown key \"$1\""
            ;;
    esac
    shift
done

if [ -n "$PRESEED_FILE" ] && [ -f "$PRESEED_FILE" ]; then
    # The preset-answers file is named on the command line; there is
    # nothing to follow at check time.
    # shellcheck source=/dev/null
    . "$PRESEED_FILE"
fi

CERT_FILE="/tmp/vlsrv-certificate-path"
BDIR_FILE="/tmp/vlsrv-backup-dir"
INITDB_FILE="/tmp/vlsrv-initdb-file"
ADD_CONFS="auth-ldap.conf auth-radius.conf auth-ads.conf"
EXTRA_UNINST_WARNING='\nPlease note, the currently installed Vorlan Server extra package will be\nremoved during Vorlan Server upgrade process. Continue?'
VLSRVD_INIT="/etc/opt/vorlansoft/software/init.d/vlsrvd"

envInit
check_older_than_10
check_old_pkg_formats
checkRoot
checkPlatform
runInstall
installationCompleted
