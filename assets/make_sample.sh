#!/usr/bin/env bash
# Regenerates sample.png, the bundled test picture: a 640x480 landscape with
# smooth gradients, noisy plasma texture and hard-edged shapes, so that cell
# patterns, edges and colours all show. Fixed seeds keep it reproducible with
# the same ImageMagick version (6.9); the committed file is the reference.
set -eu
cd "$(dirname "$0")"
convert -size 640x480 gradient:'#2b6cc4'-'#f4d8a8' \
  \( -size 640x480 -seed 31 plasma:'#3f7f2a'-'#c9a25b' -blur 0x1.5 \) \
  \( -size 640x480 xc:black -fill white \
     -draw "polygon 0,300 90,270 180,290 300,250 420,285 520,260 640,280 640,480 0,480" -blur 0x2 \) \
  -composite \
  -fill '#fff3b0' -draw "circle 500,110 500,150" \
  -fill '#d6262f' -draw "circle 150,150 150,190" \
  -fill '#f0b020' -draw "circle 230,120 230,150" \
  -fill '#7b2fbf' -draw "circle 320,170 320,195" \
  -fill '#1f9fa8' -draw "rectangle 60,340 200,430" \
  -fill '#e05a9a' -draw "ellipse 420,380 90,40 0,360" \
  -blur 0x0.8 \
  \( -size 640x480 -seed 5 plasma:grey50-grey50 -colorspace gray -blur 0x0.5 \) \
  -compose softlight -composite \
  -depth 8 -strip sample.png
