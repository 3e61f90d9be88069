#!/bin/sh
# gLabels 3 merging student cards into a PDF, as another card program would make the same
# sheet: a card of the same size (a 400 × 260 face drawn 350 × 230 px, eight to an A4 page
# in two columns), the background over the whole card, the photo in its 128 × 160 frame and
# the name, class and number as texts, merged from a CSV of N students.
#
#   glabels-cards.sh N PHOTO BACKGROUND OUT.pdf
# Prints the seconds glabels-3-batch took.
set -eu
n=$1 photo=$2 background=$3 out=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Card pixels (400 × 260 face) to points on paper: the face is 350/400 of its pixels, and a
# pixel is 0.75 pt at 96 dpi.
pt() { awk -v v="$1" 'BEGIN { printf "%.3fpt", v * 350 / 400 * 0.75 }'; }

{
  echo "name,class,number,photo"
  i=1
  while [ "$i" -le "$n" ]; do
    echo "学生$i,七(1)班,2014$(printf %04d "$i"),$photo"
    i=$((i + 1))
  done
} >"$work/cards.csv"

text() { # x y field
  cat <<XML
    <Object-text x="$(pt "$1")" y="$(pt "$2")" w="$(pt 130)" h="$(pt 24)" justify="Left" valign="Top" auto_shrink="False" a0="1" a1="0" a2="0" a3="1" a4="0" a5="0">
      <Span color="0x000000ff" font_family="Noto Serif CJK SC" font_size="$(awk 'BEGIN { printf "%.2f", 12 * 350 / 400 }')" font_weight="Regular" font_italic="False" font_underline="False" line_spacing="1"><Field name="$3"/></Span>
    </Object-text>
XML
}

cat >"$work/cards.glabels" <<XML
<?xml version="1.0"?>
<Glabels-document xmlns="http://glabels.org/xmlns/3.0/">
  <Template brand="Qinghe" part="card" size="A4" description="student card">
    <Meta category="card"/>
    <Label-rectangle id="0" width="$(pt 400)" height="$(pt 260)" round="0pt" x_waste="0pt" y_waste="0pt">
      <Markup-margin size="0pt"/>
      <Layout nx="2" ny="4" x0="$(pt 30)" y0="$(pt 30)" dx="$(pt 430)" dy="$(pt 300)"/>
    </Label-rectangle>
  </Template>
  <Objects id="0" rotate="False">
    <Object-image x="0pt" y="0pt" w="$(pt 400)" h="$(pt 260)" src="$background" lock_aspect_ratio="False" a0="1" a1="0" a2="0" a3="1" a4="0" a5="0"/>
    <Object-image x="$(pt 16)" y="$(pt 80)" w="$(pt 128)" h="$(pt 160)" field="photo" lock_aspect_ratio="False" a0="1" a1="0" a2="0" a3="1" a4="0" a5="0"/>
$(text 264 105 name)
$(text 268 148 class)
$(text 248 187 number)
  </Objects>
  <Merge type="Text/Comma/Line1Keys" src="$work/cards.csv"/>
</Glabels-document>
XML

start=$(date +%s.%N)
glabels-3-batch -o "$out" "$work/cards.glabels" >"$work/log" 2>&1 || { cat "$work/log" >&2; exit 1; }
end=$(date +%s.%N)
awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
