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

# Card background, 1024 × 707, stretched over the 400 × 260 card face (2.56 × 2.72 per card
# pixel). The captions end just left of where the layout writes name (264, 105), class
# (268, 148) and number (248, 187); the photo frame lies under the photo at (16, 80), 128 × 160.
convert -size 1024x707 gradient:'#fbfdf8'-'#e6f2e4' \
  -fill '#2e8b57' -draw "rectangle 0,0 1024,168" \
  -fill '#3fa66d' -draw "rectangle 0,168 1024,180" \
  -fill none -stroke '#d3e8d3' -strokewidth 6 \
  -draw "path 'M 380,700 C 560,560 760,690 1024,560'" \
  -draw "path 'M 460,707 C 640,600 820,700 1024,620'" \
  -stroke none -fill '#eef3f1' -draw "rectangle 41,218 369,653" \
  -fill none -stroke '#9fb8a9' -strokewidth 3 -draw "rectangle 41,218 369,653" \
  -stroke none -fill '#c9d6ce' -draw "circle 205,370 205,300" -draw "ellipse 205,653 130,150 180,360" \
  -font "$bold" -pointsize 66 -fill white -gravity north -annotate +0+44 '青禾实验学校　学生证' \
  -font "$regular" -pointsize 40 -fill '#2f4f3f' -gravity northeast \
  -annotate +368+290 '姓　名：' -annotate +358+407 '班　级：' -annotate +410+513 '编　号：' \
  -fill none -stroke '#8fb79c' -strokewidth 2 -gravity none \
  -draw "line 676,350 990,350" -draw "line 686,467 990,467" -draw "line 635,573 990,573" \
  -stroke none -fill '#2e8b57' -draw "rectangle 0,680 1024,707" \
  -quality 90 card-background.jpg

# Sample photo of the card designer, 261 × 319: a student in uniform before the blue backdrop
# of an ID photo, so the photo frame reads as a photo without showing anyone's face.
convert -size 261x319 gradient:'#6fa8dc'-'#3d78b8' \
  -fill '#1f3552' -draw "ellipse 130,330 118,92 180,360" \
  -fill white -draw "polygon 98,246 130,292 162,246 148,240 130,262 112,240" \
  -fill '#b23a3a' -draw "polygon 124,262 136,262 140,300 130,312 120,300" \
  -fill '#e9c4a4' -draw "rectangle 112,196 148,250" \
  -fill '#f1d0b2' -draw "ellipse 130,150 52,64 0,360" \
  -draw "ellipse 78,152 9,15 0,360" -draw "ellipse 182,152 9,15 0,360" \
  -fill '#24211f' -draw "ellipse 130,112 56,38 180,360" \
  -draw "polygon 74,118 86,96 112,104 98,130" -draw "polygon 186,118 174,96 150,104 162,128" \
  -fill '#3b2f2a' -draw "ellipse 108,150 5,3 0,360" -draw "ellipse 152,150 5,3 0,360" \
  -fill none -stroke '#c98f7a' -strokewidth 2 -draw "arc 116,172 144,190 20,160" \
  -quality 92 sample-photo.jpg
