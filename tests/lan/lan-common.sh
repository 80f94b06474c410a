# shellcheck shell=bash
# Pieces shared by tests/lan/sandbox and tests/lan/testlan: leaving the
# machine's network namespace, the private X server, the run's scratch
# directory and the command run in the background so that signals are
# handled at once. Sourced, not run; it sources wine-env.sh itself.
#
# State kept between calls: LAN_XVFB_PID (our Xvfb, empty when we use the
# caller's display), LAN_CMD_PID (the command while it runs).

# shellcheck source=tests/lan/wine-env.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

LAN_XVFB_PID=
LAN_CMD_PID=

# Re-executes SCRIPT with ARGS inside a fresh network namespace, plus the
# other namespaces the UNSHARE_OPTIONs ask for (e.g. --mount). Never
# returns; refuses (exit 3) when the namespace cannot be made, since the
# caller must not go on in the machine's own one.
#
#   lan_unshare_exec SCRIPT [UNSHARE_OPTION...] -- ARGS...
lan_unshare_exec() {
    local script=$1
    shift
    local -a unshare_opts=(--net)
    while (($#)) && [[ $1 != -- ]]; do
        unshare_opts+=("$1")
        shift
    done
    shift
    # Without root a user namespace grants the right to make the others.
    ((EUID == 0)) || unshare_opts+=(--map-root-user)
    if ! unshare "${unshare_opts[@]}" true 2>/dev/null; then
        wine_env_err "cannot create a network namespace (unshare ${unshare_opts[*]});" \
            "refusing to run Wine on the machine's network"
        exit "$WINE_ENV_REFUSED"
    fi
    exec unshare "${unshare_opts[@]}" -- "$BASH" "$script" "$@"
}

# Loopback up, and nothing else in this namespace at all: a namespace we
# just made has only lo, so anything more means we are somewhere else.
lan_check_bare_netns() {
    local links
    ip link set lo up || return 1
    links=$(ip -o link show | awk -F': ' '{ sub(/@.*/, "", $2); print $2 }')
    if [[ $links != lo ]]; then
        wine_env_err "the namespace has interfaces besides lo:" "${links//$'\n'/ }"
        return 1
    fi
    wine_env_check_isolated
}

# Waits up to SECONDS for PID to end; true when it did.
lan_wait_gone() {
    local pid=$1 seconds=$2 tries
    for ((tries = 0; tries < seconds * 10; tries++)); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    return 1
}

# Ends PID (one of our children): TERM, then KILL after SECONDS (default 5),
# and reaps it.
lan_stop_pid() {
    local pid=$1 seconds=${2:-5}
    [[ -n $pid ]] || return 0
    kill -TERM "$pid" 2>/dev/null
    lan_wait_gone "$pid" "$seconds" || kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    return 0
}

# True once display :N answers and its lock file names our Xvfb: another run
# may have won the race for the same number, and its server would answer
# too. Asked through LAUNCHER (e.g. "ip netns exec NS"), where the clients
# will run.
lan_xvfb_ready() {
    local n=$1 lock_pid
    shift
    kill -0 "$LAN_XVFB_PID" 2>/dev/null || return 1
    { read -r lock_pid <"/tmp/.X$n-lock"; } 2>/dev/null || return 1
    [[ $lock_pid == "$LAN_XVFB_PID" ]] || return 1
    "$@" xdpyinfo -display ":$n" >/dev/null 2>&1
}

# Starts Xvfb through LAUNCHER (none, or e.g. "ip netns exec NS", which
# execs, so $! is Xvfb itself) on the first free display from :90 up, and
# exports DISPLAY. Xvfb refuses a number whose lock another run took in the
# meantime; then the next one is tried. Lock files and the sockets in
# /tmp/.X11-unix are shared by every namespace, so numbers never collide;
# the abstract socket Xvfb also opens exists only in its own network
# namespace, and clients elsewhere fall back to the file socket.
#
#   lan_start_xvfb LOG_FILE [LAUNCHER...]
lan_start_xvfb() {
    local log=$1 n tries
    shift
    for ((n = 90; n < 190; n++)); do
        [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
        "$@" Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset \
            </dev/null >"$log" 2>&1 &
        LAN_XVFB_PID=$!
        for ((tries = 0; tries < 100; tries++)); do
            if lan_xvfb_ready "$n" "$@"; then
                export DISPLAY=:$n
                return 0
            fi
            kill -0 "$LAN_XVFB_PID" 2>/dev/null || break
            sleep 0.1
        done
        lan_stop_pid "$LAN_XVFB_PID" 1
        LAN_XVFB_PID=
    done
    wine_env_err "could not start Xvfb on any display from :90 to :189 (see $log)"
    return 1
}

# With KEEP=1 and DISPLAY set, checks the caller's display answers from
# where the clients will run; otherwise starts our own Xvfb.
#
#   lan_setup_display KEEP LOG_FILE [LAUNCHER...]
lan_setup_display() {
    local keep=$1 log=$2
    shift 2
    if ((keep)) && [[ -n ${DISPLAY:-} ]]; then
        if ! "$@" xdpyinfo >/dev/null 2>&1; then
            wine_env_err "display $DISPLAY cannot be reached from inside the" \
                "network namespace (only a local, non-TCP display can)"
            return 1
        fi
        return 0
    fi
    lan_start_xvfb "$log" "$@"
}

lan_stop_xvfb() {
    lan_stop_pid "$LAN_XVFB_PID"
    LAN_XVFB_PID=
}

# Makes the run's scratch directory, named after the script, with the TMPDIR
# every Wine call of the run shares: Wine keeps its server sockets under
# TMPDIR and finds a prefix's server only under the same one. Prints the
# directory.
lan_make_run_dir() {
    local dir
    dir=$(mktemp -d "${TMPDIR:-/tmp}/tessarin-$1.XXXXXX") || return 1
    mkdir "$dir/tmp" || return 1
    printf '%s\n' "$dir"
}

# Removes the scratch directory, or keeps it with TESSARIN_KEEP_TMP=1.
lan_remove_run_dir() {
    local dir=$1
    [[ -n $dir && -d $dir ]] || return 0
    if [[ ${TESSARIN_KEEP_TMP:-0} == 1 ]]; then
        wine_env_err "kept $dir"
    else
        rm -rf -- "$dir"
    fi
}

# Exports what wine-run and the tests expect of a prepared run: the prefix,
# the run directory and an empty browser log in it.
lan_export_run_env() {
    local dir=$1 prefix=$2
    export WINEPREFIX=$prefix
    export TESSARIN_SANDBOX=1
    export TESSARIN_SANDBOX_DIR=$dir
    export TESSARIN_BROWSER_LOG=$dir/browser.log
    : >"$TESSARIN_BROWSER_LOG"
}

# Runs CMD in the background so that a TERM to us is handled at once (bash
# defers traps until a foreground child ends), and returns its status.
# Background jobs of a script start with INT ignored and stdin on /dev/null;
# undo both so CMD behaves as if run directly.
lan_run_command() {
    local status
    (
        trap - INT QUIT
        exec "$@"
    ) <&0 &
    LAN_CMD_PID=$!
    wait "$LAN_CMD_PID"
    status=$?
    LAN_CMD_PID=
    return $status
}

lan_stop_command() {
    lan_stop_pid "$LAN_CMD_PID"
    LAN_CMD_PID=
}
