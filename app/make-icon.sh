#!/usr/bin/env bash
# Draws Vornik's icon (a stopwatch face) at 256, 48, 32 and 16 pixels and packs the four
# images into vornik.ico. Run by hand after changing the drawing; the .ico is committed.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The master drawing on a 256 canvas: crown and button, a dark-rimmed face, hour marks at
# 12, 3, 6 and 9, and the two hands.
convert -size 256x256 xc:none \
  -fill '#3b4a5c' -stroke none \
  -draw 'roundrectangle 108,6 148,34 6,6' \
  -draw 'rectangle 120,30 136,52' \
  -draw 'translate 200,58 rotate 45 roundrectangle -12,-10 12,10 4,4' \
  -fill '#3b4a5c' -draw 'circle 128,148 128,38' \
  -fill '#f4f1e8' -draw 'circle 128,148 128,56' \
  -fill '#3b4a5c' \
  -draw 'rectangle 122,62 134,86' -draw 'rectangle 122,210 134,234' \
  -draw 'rectangle 42,142 66,154' -draw 'rectangle 190,142 214,154' \
  -stroke '#1f2833' -strokewidth 12 -draw 'line 128,148 128,84' \
  -stroke '#c0392b' -strokewidth 8 -draw 'line 128,148 176,184' \
  -stroke none -fill '#1f2833' -draw 'circle 128,148 128,160' \
  "$tmp/256.png"

for size in 48 32 16; do
  convert "$tmp/256.png" -filter Lanczos -resize ${size}x${size} "$tmp/$size.png"
done
convert "$tmp/256.png" "$tmp/48.png" "$tmp/32.png" "$tmp/16.png" -depth 8 vornik.ico
