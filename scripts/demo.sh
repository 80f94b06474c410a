#!/usr/bin/env bash
# The demo: opens Tessarin on the demo test LAN, whose simulated devices answer its searches.
# With the user's own display it waits until the window is closed; on the LAN's private Xvfb it
# searches, saves a screenshot, prints its path and closes the window.
#
#   scripts/demo.sh BUILD_DIR   (run through: tests/lan/testlan --lan tests/lan/demo.lan -- ...)
set -euo pipefail

build=$(cd "${1:?usage: scripts/demo.sh BUILD_DIR}" && pwd)
exe=$build/Tessarin.exe
inspector=$build/tools/wininspect/wininspect.exe
shots=$build/demo
[[ ${TESSARIN_SANDBOX:-} == 1 ]] || { echo "demo: run me through tests/lan/testlan" >&2; exit 3; }

"$TESSARIN_WINE" "$exe" </dev/null >/dev/null 2>&1 &
tool=$!
"$TESSARIN_WINE" "$inspector" wait --title Tessarin --timeout 30000 >/dev/null

if [[ ${TESSARIN_DEMO_HEADLESS:-0} == 1 ]]; then
    mkdir -p "$shots"
    "$TESSARIN_WINE" "$inspector" command --title Tessarin --id 1001 >/dev/null
    sleep 3
    import -window root -crop 1100x620+0+0 "$shots/tessarin.png"
    echo "Tessarin searched the demo LAN headless; screenshot: $shots/tessarin.png"
    "$TESSARIN_WINE" "$inspector" post --title Tessarin --msg 16 >/dev/null
else
    echo "Tessarin is open on the demo LAN: press Search (or Enter) to find its devices."
fi
wait "$tool"
