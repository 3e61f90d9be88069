#!/usr/bin/env bash
# Draws the program's built-in pictures with ImageMagick. The pictures are committed; run this
# only to change them (apt-get install imagemagick fonts-noto-cjk).
set -euo pipefail
cd "$(dirname "$0")/images"
bold=/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc
regular=/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc

# Main window background, 800 × 600: a quiet green-to-sky wash with soft rice-stalk curves.
convert -size 800x600 gradient:'#eef7ec'-'#d7ebf3' \
  -fill none -stroke '#c4e0c8' -strokewidth 3 \
  -draw "path 'M 0,520 C 200,450 380,610 800,470'" \
  -draw "path 'M 0,560 C 260,500 420,640 800,520'" \
  -stroke '#cfe3ee' -strokewidth 2 \
  -draw "path 'M 0,90 C 240,40 520,150 800,60'" \
  -quality 88 main-background.jpg

# Capture placeholder, 372 × 238: a portrait silhouette and a hint to take a photo.
convert -size 372x238 gradient:'#e9eef2'-'#c9d3db' \
  -fill '#aab7c2' -draw "circle 186,92 186,52" \
  -draw "ellipse 186,238 86,80 180,360" \
  -font "$regular" -pointsize 18 -fill '#5b6b78' -gravity north -annotate +0+8 '请点击“拍照”取像' \
  -quality 92 placeholder.jpg

# Icon: the character 青 on a rounded green square.
convert -size 256x256 xc:none -fill '#2e8b57' -draw "roundrectangle 8,8 248,248 48,48" \
  -font "$bold" -pointsize 170 -fill white -gravity center -annotate +0+6 '青' qinghe.png
