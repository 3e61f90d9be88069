#!/bin/sh
# Copies the two photographs the face framing tests use from Debian's python3-skimage:
# astronaut.png (Eileen Collins, a public-domain NASA portrait) and coffee.png (a cup of
# coffee, no face; CC0). Run it again to refresh them.
set -eu
here=$(dirname "$0")
for picture in astronaut.png coffee.png; do
  source=$(dpkg -L python3-skimage | grep "/skimage/data/$picture\$")
  cp "$source" "$here/$picture"
done
