#!/usr/bin/env bash
# Renders the skin sources src/*.svg into the button strips the program loads
# from Skin\ beside the executable: 32-bit RGBA PNGs, four equal pictures side by
# side. The build never runs this; run it after changing the sources and commit
# the PNGs with them. Same tools, same bytes: no time or host goes into a file.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# The dialog template fixes each button's top-left corner and the program sizes
# the button to one picture, so a picture of another size would push the button
# off the artwork. One picture, width x height, per strip:
sizes=(
  "close 24 24"
  "minimize 24 24"
  "Tip 113 26"
  "Tip1 113 26"
  "modify 207 42"
  "search 205 28"
  "Upgrade 136 24"
  "Browse 48 21"
)

# ImageMagick by full path: another "convert" earlier on PATH (GraphicsMagick,
# or a wrapper) writes different chunks and breaks the repeatable output.
convert=/usr/bin/convert
identify=/usr/bin/identify
if ! command -v rsvg-convert >/dev/null 2>&1 \
  || ! "$convert" -version 2>/dev/null | grep -q ImageMagick \
  || ! [ -x "$identify" ]; then
  echo "render.sh needs rsvg-convert and ImageMagick (/usr/bin/convert):" >&2
  echo "  sudo apt-get install librsvg2-bin imagemagick" >&2
  exit 1
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

for entry in "${sizes[@]}"; do
  read -r name width height <<<"$entry"
  rsvg-convert --width $((4 * width)) --height "$height" \
    "$here/src/$name.svg" -o "$tmp/$name.png"
  # PNG32 keeps the alpha channel even for a strip ImageMagick could store as
  # grey or palette; the program takes each button's shape from that alpha.
  "$convert" "$tmp/$name.png" -strip -define png:exclude-chunks=date,time \
    "PNG32:$here/$name.png"
  got=$("$identify" -format '%w %h %[channels]' "$here/$name.png")
  if [ "$got" != "$((4 * width)) $height srgba" ]; then
    echo "render.sh: $name.png is '$got', expected '$((4 * width)) $height srgba'" >&2
    exit 1
  fi
  echo "wrote $name.png ($((4 * width)) x $height, 4 x $width px)"
done
