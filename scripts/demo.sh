#!/usr/bin/env bash
# The demo: opens Tessarin inside tests/lan/sandbox. With the user's own display it waits until
# the window is closed; on the sandbox's private Xvfb it saves a screenshot, prints its path and
# closes the window.
#
#   scripts/demo.sh BUILD_DIR     (run through: tests/lan/sandbox --keep-display -- ...)
set -euo pipefail

build=$(cd "${1:?usage: scripts/demo.sh BUILD_DIR}" && pwd)
exe=$build/Tessarin.exe
inspector=$build/tools/wininspect/wininspect.exe
shots=$build/demo
[[ ${TESSARIN_SANDBOX:-} == 1 ]] || { echo "demo: run me through tests/lan/sandbox" >&2; exit 3; }

"$TESSARIN_WINE" "$exe" </dev/null >/dev/null 2>&1 &
tool=$!
"$TESSARIN_WINE" "$inspector" wait --title Tessarin --timeout 30000 >/dev/null

if [[ ${TESSARIN_DEMO_HEADLESS:-0} == 1 ]]; then
    mkdir -p "$shots"
    sleep 1
    import -window root -crop 1100x620+0+0 "$shots/tessarin.png"
    echo "Tessarin is running headless; screenshot: $shots/tessarin.png"
    "$TESSARIN_WINE" "$inspector" post --title Tessarin --msg 16 >/dev/null
fi
wait "$tool"
