#!/usr/bin/env bash
# Regenerates pet.ico (16, 32, 48 and 256 px) with ImageMagick: a process
# vessel with a step-response trend on a rounded tile. Run by hand when the
# design changes; the build only copies the committed pet.ico.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
convert=/usr/bin/convert  # Debian's ImageMagick; another convert may shadow it on PATH
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# First-order step response after a dead time, as joined line segments
# (ImageMagick 6 closes a stroked polyline).
trend=$(awk 'BEGIN { px = 150; py = 200; x = 166; y = 200; printf "line %d,%d %d,%d ", px, py, x, y
  for (i = 1; i <= 14; i++) { px = x; py = y; x = 166 + i * 5; y = 200 - 114 * (1 - exp(-i / 3.5))
    printf "line %d,%d %d,%d ", px, py, x, y } }')

"$convert" -size 256x256 xc:none \
  -fill '#1d4e89' -draw 'roundrectangle 8,8 247,247 44,44' \
  -fill '#2a6fb8' -draw 'roundrectangle 8,8 247,140 44,44' -draw 'rectangle 8,100 247,140' \
  -fill '#1d4e89' -draw 'rectangle 8,128 247,140' \
  -fill '#e8f1fb' -stroke '#0f2f57' -strokewidth 6 -draw 'roundrectangle 52,44 140,212 30,30' \
  -fill '#55b0ff' -stroke none -draw 'roundrectangle 58,120 134,206 24,24' -draw 'rectangle 58,120 134,160' \
  -stroke '#0f2f57' -strokewidth 6 -fill none -draw 'line 96,20 96,44' -draw 'line 140,180 176,180' \
  -stroke '#ffd23f' -strokewidth 12 -fill none -draw "stroke-linecap round stroke-linejoin round $trend" \
  -depth 8 "$work/pet-256.png"

for size in 48 32 16; do
  "$convert" "$work/pet-256.png" -resize "${size}x${size}" -unsharp 0x0.6 "$work/pet-$size.png"
done
"$convert" "$work/pet-16.png" "$work/pet-32.png" "$work/pet-48.png" "$work/pet-256.png" -depth 8 "$here/pet.ico"
