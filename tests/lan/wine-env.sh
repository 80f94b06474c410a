# shellcheck shell=bash
# Shared pieces for running our Windows programs under Wine without ever
# touching the machine's real network. Sourced by tests/lan/sandbox,
# tests/lan/wine-run and the device-LAN script; defines functions and a few
# WINE_ENV_* settings, runs nothing by itself.
#
# Why this matters: Wine opens every socket inside the wineserver process,
# not in the Windows program. A program started in an isolated network
# namespace still talks on whatever network its wineserver lives in. So a
# prefix is created fresh, its wineserver is started from inside the target
# namespace before anything else, and that is checked through
# /proc/<pid>/ns/net before any program of ours runs.

WINE_ENV_WINE=${TESSARIN_WINE:-/usr/lib/wine/wine64}
# Status of a refusal on safety grounds, distinct from plain failures (1).
WINE_ENV_REFUSED=3
# The Debian wrapper /usr/bin/wineserver prepends -p0; call the server itself
# so that "-p" (stay up until killed) is the only persistence option.
if [[ -x /usr/lib/wine/wineserver64 ]]; then
    WINE_ENV_SERVER=/usr/lib/wine/wineserver64
else
    WINE_ENV_SERVER=$(command -v wineserver || echo wineserver)
fi

# Face names the tool and the framework ask for, mapped to Debian fonts with
# matching metrics. Without them GDI+ fails with FontFamilyNotFound and text
# silently vanishes. Registry value names and Wine's face-name lookup ignore
# case, so one entry also covers "microsoft yahei".
WINE_ENV_FONT_REPLACEMENTS=(
    "Arial=Liberation Sans"
    "Verdana=DejaVu Sans"
    "Tahoma=DejaVu Sans"
    "MS Shell Dlg=DejaVu Sans"
    "MS Shell Dlg 2=DejaVu Sans"
    "Microsoft YaHei=WenQuanYi Micro Hei"
    "Segoe UI=DejaVu Sans"
)

# The families that get the CJK font linked behind them, and the link itself.
WINE_ENV_CJK_LINKED=("DejaVu Sans" "Liberation Sans")
WINE_ENV_CJK_LINK="wqy-microhei.ttc,WenQuanYi Micro Hei"

wine_env_err() {
    printf '%s: %s\n' "${WINE_ENV_LOG_NAME:-wine-env}" "$*" >&2
}

# Exports the environment every Wine call of ours uses. mscoree/mshtml are
# disabled so a fresh prefix does not try to install Mono or Gecko, and
# winemenubuilder so that creating a prefix writes nothing into $HOME.
wine_env_export_defaults() {
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    export WINEARCH=win64
    export WINESERVER=$WINE_ENV_SERVER
    export TESSARIN_WINE=$WINE_ENV_WINE
}

# Runs a Wine program for PREFIX with all standard streams detached: Wine's
# helper processes (services, explorer, winedevice) inherit them and would
# hold a caller's pipe open until the server dies.
wine_env_wine_quiet() {
    local prefix=$1
    shift
    WINEPREFIX=$prefix "$WINE_ENV_WINE" "$@" </dev/null >/dev/null 2>&1
}

# Prints the name of the socket directory Wine derives from the prefix's
# device and inode ("server-<dev>-<ino>", hex). Every wineserver serving the
# prefix has that directory as its working directory, wherever TMPDIR put it.
wine_env_server_tag() {
    local dev ino
    read -r dev ino < <(stat -L -c '%d %i' "$1" 2>/dev/null) || return 1
    [[ -n $ino ]] || return 1
    printf 'server-%x-%x\n' "$dev" "$ino"
}

# Prints the PIDs of the live wineservers serving PREFIX, one a line.
# Matching by working directory rather than by socket path also finds a
# server started with another TMPDIR, which is exactly the stray one we must
# not miss. Zombies have no cwd and drop out.
wine_env_server_pids() {
    local tag proc comm cwd
    tag=$(wine_env_server_tag "$1") || return 0
    for proc in /proc/[0-9]*; do
        { read -r comm <"$proc/comm"; } 2>/dev/null || continue
        [[ $comm == wineserver* ]] || continue
        cwd=$(readlink "$proc/cwd" 2>/dev/null) || continue
        [[ ${cwd##*/} == "$tag" ]] && printf '%s\n' "${proc#/proc/}"
    done
    return 0
}

# Fails when this process runs in the machine's own network namespace. Known
# references to it: the kernel's initial namespace (a fixed inode number,
# 0xEFFFFFF9, on recent kernels; dynamic ones are never below 0xF0000000),
# PID 1's namespace when we may look at it (often not, even as root, in a
# VM or container), and the namespace a sandbox or LAN script left, which it
# records in TESSARIN_SANDBOX_OUTER_NETNS.
wine_env_check_isolated() {
    local self outer
    self=$(readlink /proc/self/ns/net) || return 1
    for outer in 'net:[4026531833]' "$(readlink /proc/1/ns/net 2>/dev/null)" \
        "${TESSARIN_SANDBOX_OUTER_NETNS:-}"; do
        if [[ -n $outer && $self == "$outer" ]]; then
            wine_env_err "this runs in the machine's own network namespace ($self);" \
                "Wine programs may only run in an isolated one"
            return 1
        fi
    done
}

# The safety check: at least one wineserver serves PREFIX, every one of them
# lives in this process's network namespace, and that namespace is not the
# machine's own. Returns WINE_ENV_REFUSED with a message otherwise.
wine_env_check_server() {
    local prefix=$1 self pids pid ns
    self=$(readlink /proc/self/ns/net) || return $WINE_ENV_REFUSED
    pids=$(wine_env_server_pids "$prefix")
    if [[ -z $pids ]]; then
        wine_env_err "no wineserver runs for prefix $prefix;" \
            "it must be started inside this network namespace first"
        return $WINE_ENV_REFUSED
    fi
    for pid in $pids; do
        if ! ns=$(readlink "/proc/$pid/ns/net" 2>/dev/null); then
            wine_env_err "cannot read the network namespace of wineserver $pid"
            return $WINE_ENV_REFUSED
        fi
        if [[ $ns != "$self" ]]; then
            wine_env_err "wineserver $pid of prefix $prefix runs in network" \
                "namespace $ns, not in this one ($self): its sockets would use" \
                "that network"
            return $WINE_ENV_REFUSED
        fi
    done
    wine_env_check_isolated || return $WINE_ENV_REFUSED
}

# Starts a persistent wineserver for PREFIX in the current network namespace
# and checks it landed here. Refuses a prefix that already has a server
# anywhere: that one may sit in another namespace.
wine_env_start_server() {
    local prefix=$1 tries
    mkdir -p "$prefix" || return 1
    if [[ -n $(wine_env_server_pids "$prefix") ]]; then
        wine_env_err "a wineserver already runs for $prefix; use a fresh prefix"
        return $WINE_ENV_REFUSED
    fi
    if ! WINEPREFIX=$prefix "$WINE_ENV_SERVER" -p </dev/null >/dev/null 2>&1; then
        wine_env_err "wineserver failed to start for $prefix"
        return 1
    fi
    # The server daemonizes; give it a moment to show up in /proc.
    for ((tries = 0; tries < 50; tries++)); do
        [[ -n $(wine_env_server_pids "$prefix") ]] && break
        sleep 0.1
    done
    wine_env_check_server "$prefix"
}

# Starts the prefix's services (explorer, services, plugplay) under the
# running server, so the first real program does not pay for them.
wine_env_start_services() {
    wine_env_wine_quiet "$1" cmd /c exit
}

# Escapes a string for a double-quoted .reg value.
wine_env_reg_quote() {
    local s=${1//\\/\\\\}
    printf '"%s"' "${s//\"/\\\"}"
}

# Prints TEXT as the comma-separated hex bytes of a one-string REG_MULTI_SZ
# value (the text, its terminator and the list's terminator).
wine_env_multi_sz_hex() {
    printf '%s\0\0' "$1" | od -An -v -tx1 | tr -s ' \n' ',' | sed 's/^,//; s/,$//'
}

# Writes our settings as a REGEDIT4 file: no 2 s wait after a dialog ends
# (Managed=N, there is no window manager), font replacements, and
# ShellExecute on a URL going to BROWSER instead of a real browser.
wine_env_write_settings_reg() {
    local file=$1 browser=$2 pair family
    {
        printf 'REGEDIT4\r\n\r\n'
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n'
        printf '"Managed"="N"\r\n\r\n'
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
        for pair in "${WINE_ENV_FONT_REPLACEMENTS[@]}"; do
            printf '%s=%s\r\n' "$(wine_env_reg_quote "${pair%%=*}")" \
                "$(wine_env_reg_quote "${pair#*=}")"
        done
        # Chinese texts of the tool (filters, messages) in the fonts above: their missing
        # glyphs come from WenQuanYi, as Windows links its CJK fonts to the UI fonts.
        printf '\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n'
        for family in "${WINE_ENV_CJK_LINKED[@]}"; do
            printf '%s=hex(7):%s\r\n' "$(wine_env_reg_quote "$family")" \
                "$(wine_env_multi_sz_hex "$WINE_ENV_CJK_LINK")"
        done
        printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\WineBrowser]\r\n'
        printf '"Browsers"=%s\r\n' "$(wine_env_reg_quote "$browser")"
    } >"$file"
}

# Prints the REG_SZ and REG_MULTI_SZ values of a registry KEY of PREFIX as
# "name=data" lines.
wine_env_reg_values() {
    local prefix=$1 key=$2
    WINEPREFIX=$prefix "$WINE_ENV_WINE" reg query "$key" </dev/null 2>/dev/null |
        tr -d '\r' | sed -n 's/^    \(.*\)    REG_\(MULTI_\)\{0,1\}SZ    \(.*\)$/\1=\3/p'
}

# Checks that the settings reached the registry and that fontconfig, which
# Wine enumerates system fonts through, really has every replacement family.
wine_env_verify_settings() {
    local prefix=$1 browser=$2 values pair family ok=0
    values=$(wine_env_reg_values "$prefix" 'HKCU\Software\Wine\Fonts\Replacements')
    for pair in "${WINE_ENV_FONT_REPLACEMENTS[@]}"; do
        if ! grep -qxF -- "$pair" <<<"$values"; then
            wine_env_err "font replacement \"$pair\" is missing from the registry"
            ok=1
        fi
        family=${pair#*=}
        if ! fc-list -q "$family"; then
            wine_env_err "font family \"$family\" is not installed" \
                "(scripts/ensure-deps.sh test installs it)"
            ok=1
        fi
    done
    values=$(wine_env_reg_values "$prefix" \
        'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink')
    for family in "${WINE_ENV_CJK_LINKED[@]}"; do
        if ! grep -qxF -- "$family=$WINE_ENV_CJK_LINK" <<<"$values"; then
            wine_env_err "font link for \"$family\" is missing from the registry"
            ok=1
        fi
    done
    if ! wine_env_reg_values "$prefix" 'HKCU\Software\Wine\X11 Driver' |
        grep -qxF 'Managed=N'; then
        wine_env_err "X11 Driver Managed=N is missing from the registry"
        ok=1
    fi
    if ! wine_env_reg_values "$prefix" 'HKCU\Software\Wine\WineBrowser' |
        grep -qxF "Browsers=$browser"; then
        wine_env_err "WineBrowser Browsers=$browser is missing from the registry"
        ok=1
    fi
    return $ok
}

# Creates a fresh prefix at PREFIX (which must not exist yet or be empty)
# with its server started and checked in the current network namespace and
# our settings applied. BROWSER is the Unix path ShellExecute on a URL runs.
# Returns 0, 1 on failure, or WINE_ENV_REFUSED when the server check fails.
# Takes about 15 s, nearly all of it wineboot.
wine_env_create_prefix() {
    local prefix=$1 browser=$2 reg_file
    if [[ -e $prefix && -n $(ls -A "$prefix" 2>/dev/null) ]]; then
        wine_env_err "prefix $prefix is not empty; a prefix must be fresh per run"
        return 1
    fi
    wine_env_start_server "$prefix" || return
    wine_env_wine_quiet "$prefix" wineboot -u
    # system.reg appears only when the server saves; drive_c is there at once.
    if [[ ! -d $prefix/drive_c/windows/system32 ]]; then
        wine_env_err "wineboot did not create the prefix $prefix"
        return 1
    fi
    # reg.exe reads a Windows path; drive C: is the prefix's drive_c.
    reg_file=$prefix/drive_c/tessarin-settings.reg
    wine_env_write_settings_reg "$reg_file" "$browser"
    if ! wine_env_wine_quiet "$prefix" reg import 'C:\tessarin-settings.reg'; then
        wine_env_err "importing the Wine settings failed"
        return 1
    fi
    rm -f "$reg_file"
    wine_env_start_services "$prefix"
    wine_env_verify_settings "$prefix" "$browser" || return 1
    wine_env_check_server "$prefix"
}

# True while PID runs: it exists and is not a zombie. The daemonized server
# is a child of PID 1, which may take a while to reap it.
wine_env_running() {
    local stat
    { read -r stat <"/proc/$1/stat"; } 2>/dev/null || return 1
    stat=${stat##*) }
    [[ ${stat%% *} != Z ]]
}

# Stops the wineserver of PREFIX and every Wine process it serves, then
# removes Wine's socket directory for it. Safe to call when nothing runs.
wine_env_stop_server() {
    local prefix=$1 pid pids tries name sockets tag
    [[ -d $prefix ]] || return 0
    pids=$(wine_env_server_pids "$prefix")
    if [[ -n $pids ]]; then
        WINEPREFIX=$prefix timeout 10 "$WINE_ENV_SERVER" -k </dev/null >/dev/null 2>&1
        for ((tries = 0; tries < 50; tries++)); do
            [[ -z $(wine_env_server_pids "$prefix") ]] && break
            sleep 0.1
        done
        # A server that ignored -k (or was started with another TMPDIR and so
        # was not reached by it) is still ours: it serves our prefix.
        for pid in $(wine_env_server_pids "$prefix"); do
            kill -KILL "$pid" 2>/dev/null
        done
        # A server loses its working directory early in its exit; wait for
        # the rest, so that a caller checking right after finds it gone.
        for pid in $pids; do
            for ((tries = 0; tries < 20; tries++)); do
                wine_env_running "$pid" || break
                sleep 0.1
            done
        done
    fi
    # Debian's Wine keeps its sockets in $TMPDIR/wine-XXXXXX, named in the
    # prefix's "wineserver" file; that directory belongs to this prefix only.
    # (The file has no trailing newline, so no "read" here.)
    name=$(cat "$prefix/wineserver" 2>/dev/null)
    if [[ $name =~ ^wine-[A-Za-z0-9]{6}$ ]]; then
        sockets=${TMPDIR:-/tmp}/$name
        if tag=$(wine_env_server_tag "$prefix") && [[ -d $sockets/$tag ]]; then
            rm -rf -- "${sockets:?}/$tag"
        fi
        rmdir -- "$sockets" 2>/dev/null
    fi
    return 0
}
