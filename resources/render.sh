#!/usr/bin/env bash
# Renders every PNG in this folder from its SVG source. Run it after editing
# an SVG and commit both, so the pictures never drift from their sources.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"

command -v rsvg-convert >/dev/null ||
  { echo "render: rsvg-convert is missing (apt-get install librsvg2-bin)" >&2; exit 1; }

# source  picture  width  height
renders=(
  "app.svg                   app-48.png                   48  48"
  "app.svg                   app-32.png                   32  32"
  "play.svg                  play-32.png                  32  32"
  "pause.svg                 pause-32.png                 32  32"
  "open.svg                  open-32.png                  32  32"
  "video-area.svg            video-area.png              740 517"
  "planes/EasyStar64x64.svg   planes/EasyStar64x64.png     64  64"
  "planes/EasyGlider64x64.svg planes/EasyGlider64x64.png   64  64"
  "planes/Cularis64x64.svg    planes/Cularis64x64.png      64  64"
  "planes/FunJet64x64.svg     planes/FunJet64x64.png       64  64"
  "planes/Zephyr64x64.svg     planes/Zephyr64x64.png       64  64"
)

for row in "${renders[@]}"; do
  read -r svg png width height <<<"$row"
  rsvg-convert --width "$width" --height "$height" --output "$png.tmp" "$svg"
  mv "$png.tmp" "$png"
  echo "$png"
done
