#!/usr/bin/env bash
# Renders the window art into the files the resource script embeds:
#   background.svg -> ../Tessarin.bmp  (bitmap 160: 1022x579, 24 bpp, BMP3, no alpha)
#   icon.svg       -> ../Tessarin.ico  (icon 153: 48, 32 and 16 px, 32 bpp with alpha)
# The build uses the committed outputs and never runs this; run it after editing
# an SVG and commit the results with it. Same tools, same bytes: nothing time- or
# host-dependent goes into either file.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
res=$(dirname "$here")

missing=0
command -v rsvg-convert >/dev/null 2>&1 || missing=1
# Only ImageMagick's convert will do: GraphicsMagick's writes neither BMP3 nor
# 32-bpp ICO entries the way windres and Windows expect.
if ! command -v convert >/dev/null 2>&1 || ! convert -version 2>/dev/null | grep -q ImageMagick; then
  missing=1
fi
if [ "$missing" -ne 0 ]; then
  echo "render.sh needs rsvg-convert and ImageMagick's convert:" >&2
  echo "  sudo apt-get install librsvg2-bin imagemagick" >&2
  exit 1
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Bitmap 160. The dialog stretches it, so it is drawn at exactly the client size
# at 96 dpi. BMP3 gives a plain BITMAPINFOHEADER, which windres copies as is;
# TrueColor keeps ImageMagick from choosing a palette for a picture with few
# colours, and flattening on the body colour leaves no alpha channel.
rsvg-convert --width 1022 --height 579 "$here/background.svg" -o "$tmp/background.png"
convert "$tmp/background.png" -background '#eef2f6' -alpha remove -alpha off \
  -type TrueColor -depth 8 -strip -define bmp:format=bmp3 "BMP3:$res/Tessarin.bmp"

# Icon 153. Each size is rendered from the vector source rather than scaled
# down from 48 px, so the 16 px taskbar/title-bar image stays sharp. Sizes under
# 256 px are stored by ImageMagick as 32-bpp DIBs with an AND mask, which every
# Windows version reads.
for size in 48 32 16; do
  rsvg-convert --width "$size" --height "$size" "$here/icon.svg" -o "$tmp/icon-$size.png"
done
convert "$tmp/icon-48.png" "$tmp/icon-32.png" "$tmp/icon-16.png" \
  -alpha on -type TrueColorAlpha -depth 8 -strip "ICO:$res/Tessarin.ico"

echo "wrote $res/Tessarin.bmp and $res/Tessarin.ico"
