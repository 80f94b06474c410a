#!/usr/bin/env bash
# Makes sure the Debian packages a make goal needs are installed:
#
#   scripts/ensure-deps.sh [build|test|demo|fuzz]      (default: build)
#
# Silent and quick when everything is there. As root it installs what is
# missing (apt-get update once, then one apt-get install); as anyone else it
# prints the command to run and exits 1. Exit 2 on a wrong goal.

set -euo pipefail

goal=${1:-build}

# One need a line: "package check", where check is cmd:NAME (on PATH),
# file:PATH, or pkg (dpkg reports the package installed).
build_needs=(
    "cmake cmd:cmake"
    "make cmd:make"
    "g++ cmd:g++"
    "g++-mingw-w64-x86-64-posix cmd:x86_64-w64-mingw32-g++-posix"
    "binutils-mingw-w64-x86-64 cmd:x86_64-w64-mingw32-windres"
    "zip cmd:zip"
    "googletest file:/usr/src/googletest/CMakeLists.txt"
    # The end-to-end tests are Python scripts that CMake registers.
    "python3 cmd:python3"
)

# Running the Windows programs: Wine, a private X server, the tools the tests
# drive and photograph it with, the namespace tools, and the fonts the
# sandbox maps the Windows face names to.
wine_needs=(
    "wine64 file:/usr/lib/wine/wine64"
    "wine pkg"
    "xvfb cmd:Xvfb"
    "xauth cmd:xauth"
    "xdotool cmd:xdotool"
    # /usr/local/bin/convert may be a stand-in; the real tools live in /usr/bin.
    "imagemagick file:/usr/bin/import"
    "imagemagick file:/usr/bin/convert"
    "iproute2 cmd:ip"
    "util-linux cmd:unshare"
    "x11-utils cmd:xdpyinfo"
    "fontconfig cmd:fc-list"
    "fonts-liberation pkg"
    "fonts-dejavu-core pkg"
    "fonts-wqy-microhei pkg"
    # libwine only recommends the X extensions its X11 driver loads at run
    # time; without XRender, for one, text is drawn without anti-aliasing and
    # screenshots differ from machine to machine.
    "libxrender1 pkg"
    "libxrandr2 pkg"
    "libxcursor1 pkg"
    "libxi6 pkg"
    "libxinerama1 pkg"
    "libxcomposite1 pkg"
    "libxfixes3 pkg"
    "libxxf86vm1 pkg"
)

# The fuzz targets are built with clang and its libFuzzer runtime.
fuzz_needs=(
    "clang cmd:clang++"
    "libclang-rt-14-dev file:/usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a"
)

case $goal in
build) needs=("${build_needs[@]}") ;;
demo) needs=("${build_needs[@]}" "${wine_needs[@]}") ;;
test) needs=("${build_needs[@]}" "${wine_needs[@]}" "${fuzz_needs[@]}") ;;
fuzz) needs=("${build_needs[@]}" "${fuzz_needs[@]}") ;;
*)
    echo "usage: scripts/ensure-deps.sh [build|test|demo|fuzz]" >&2
    exit 2
    ;;
esac

# Asks dpkg once about every package with a "pkg" check.
declare -A installed=()
load_installed() {
    local -a pkgs=()
    local need name status
    for need in "${needs[@]}"; do
        [[ ${need#* } == pkg ]] && pkgs+=("${need%% *}")
    done
    ((${#pkgs[@]})) || return 0
    while read -r name status; do
        [[ $status == ii ]] && installed[${name%%:*}]=1
    done < <(dpkg-query -W -f='${Package} ${db:Status-Abbrev}\n' "${pkgs[@]}" 2>/dev/null || true)
}

satisfied() {
    local package=${1%% *} check=${1#* }
    case $check in
    cmd:*) command -v "${check#cmd:}" >/dev/null ;;
    file:*) [[ -e ${check#file:} ]] ;;
    pkg) [[ -n ${installed[$package]:-} ]] ;;
    esac
}

missing_packages() {
    local need package
    local -A seen=()
    load_installed
    for need in "${needs[@]}"; do
        package=${need%% *}
        [[ -n ${seen[$package]:-} ]] && continue
        if ! satisfied "$need"; then
            seen[$package]=1
            printf '%s\n' "$package"
        fi
    done
}

mapfile -t missing < <(missing_packages)
((${#missing[@]})) || exit 0

install_cmd="DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}"
if ((EUID != 0)); then
    echo "ensure-deps: missing for '$goal': ${missing[*]}. Run as root:" >&2
    echo "apt-get update && $install_cmd" >&2
    exit 1
fi

echo "ensure-deps: installing ${missing[*]}" >&2
# Concurrent makes may race for the dpkg lock; wait for it instead of failing.
apt_opts=(-q -o DPkg::Lock::Timeout=300)
apt-get "${apt_opts[@]}" update >&2
DEBIAN_FRONTEND=noninteractive apt-get "${apt_opts[@]}" install -y \
    --no-install-recommends "${missing[@]}" >&2

mapfile -t missing < <(missing_packages)
if ((${#missing[@]})); then
    echo "ensure-deps: still missing after install: ${missing[*]}" >&2
    exit 1
fi
