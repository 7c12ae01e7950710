#!/usr/bin/env bash
# Remakes the wizard's pictures from nothing but ImageMagick drawing commands and the DejaVu fonts:
#   parcel.jpg          21 x 33 JPEG, the small picture on the first page
#   banner.gif          468 x 60 GIF89a, 62 frames, looping without end, the closing page's banner
#   icons/parcelo-N.png the program's icon at the hicolor sizes (the SVG beside them is drawn by hand)
# Run it from anywhere; it writes next to itself. The results are committed, so a build never runs it.
set -euo pipefail
cd "$(dirname "$0")"
command -v convert >/dev/null || { echo "make_pictures: ImageMagick's convert is needed" >&2; exit 1; }
font=DejaVu-Sans-Bold
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# ---- the page-1 picture: a brown parcel with a zipper down its middle, on the window's silver
convert -size 21x33 xc:'#c0c0c0' \
  -fill '#b07a3c' -stroke '#5a3a14' -draw 'rectangle 2,5 18,31' \
  -fill '#d9a35f' -stroke '#5a3a14' -draw 'polygon 2,5 6,1 20,1 18,5' \
  -fill '#8c5a24' -stroke '#5a3a14' -draw 'polygon 18,5 20,1 20,27 18,31' \
  -stroke '#303030' -draw 'line 10,5 10,31' \
  -stroke '#f0f0f0' -draw 'line 9,8 11,8' -draw 'line 9,12 11,12' -draw 'line 9,16 11,16' \
  -draw 'line 9,20 11,20' -draw 'line 9,24 11,24' -draw 'line 9,28 11,28' \
  -fill '#e8e8e8' -stroke '#303030' -draw 'rectangle 8,29 12,32' \
  -strip -quality 92 -sampling-factor 1x1 "$tmp/parcel.jpg"
mv "$tmp/parcel.jpg" parcel.jpg

# ---- the banner: a light band sweeps over the name while the three steps light up in turn
frames=62
for ((i = 0; i < frames; i++)); do
  x=$((-80 + i * 10))
  step=$((i * 3 / frames))  # 0, 1, 2: which step is lit
  dots=()
  for s in 0 1 2; do
    cx=$((330 + s * 44))
    if [ "$s" -le "$step" ]; then fill='#ffd75e'; else fill='#5d79b8'; fi
    dots+=(-fill "$fill" -stroke '#ffffff' -draw "circle $cx,24 $((cx + 11)),24")
    dots+=(-fill '#10224a' -stroke none -font "$font" -pointsize 13
           -annotate "+$((cx - 4))+29" "$((s + 1))")
  done
  convert -size 468x60 gradient:'#1d3a78'-'#3f6cc4' \
    -fill '#ffffff18' -stroke none -draw "polygon $x,0 $((x + 40)),0 $((x + 10)),60 $((x - 30)),60" \
    -fill '#ffffff' -font "$font" -pointsize 30 -annotate +18+38 'Parcelo' \
    -fill '#dce6ff' -font DejaVu-Sans -pointsize 12 -annotate +20+53 'unpacks your archives in three steps' \
    "${dots[@]}" \
    -fill '#ffffff' -font DejaVu-Sans -pointsize 11 -annotate +300+52 'choose     place     done' \
    -stroke '#0c1a3a' -fill none -draw 'rectangle 0,0 467,59' \
    "$tmp/frame-$(printf %02d "$i").png"
done
convert -delay 8 -loop 0 "$tmp"/frame-*.png +dither -colors 48 -layers Optimize "$tmp/banner.gif"
mv "$tmp/banner.gif" banner.gif

# ---- the program's icon: an open parcel with a zipper, drawn at 256 and scaled down
convert -size 256x256 xc:none \
  -fill '#8c5a24' -stroke '#4a2e0e' -strokewidth 6 -draw 'polygon 40,92 128,124 128,236 40,200' \
  -fill '#b07a3c' -draw 'polygon 128,124 216,92 216,200 128,236' \
  -fill '#d9a35f' -draw 'polygon 40,92 128,60 216,92 128,124' \
  -fill '#e9b873' -draw 'polygon 40,92 14,58 100,28 128,60' \
  -fill '#e9b873' -draw 'polygon 216,92 242,58 156,28 128,60' \
  -stroke '#202020' -strokewidth 10 -draw 'line 128,128 128,232' \
  -stroke '#f4f4f4' -strokewidth 6 -draw 'line 116,146 140,146' -draw 'line 116,170 140,170' \
  -draw 'line 116,194 140,194' -draw 'line 116,218 140,218' \
  "$tmp/icon.png"
mkdir -p icons
for size in 16 24 32 48 64 128 256; do
  convert "$tmp/icon.png" -resize "${size}x${size}" -strip "icons/parcelo-$size.png"
done
echo "make_pictures: parcel.jpg, banner.gif ($frames frames), icons/parcelo-{16..256}.png"
