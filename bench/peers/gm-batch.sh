#!/usr/bin/env bash
# The batch job with GraphicsMagick, which has no size target for JPEG: turn, crop and
# resize once, then encode from quality 100 down until the file fits 34,900 bytes.
#   gm-batch.sh ROTATION X,Y,W,H IN OUT
set -euo pipefail
rotation=$1
IFS=, read -r x y w h <<<"$2"
in=$3
out=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
gm convert "$in" -rotate "$rotation" -crop "${w}x${h}+${x}+${y}" +repage -resize '400x480!' "$tmp/crop.ppm"
for q in $(seq 100 -1 1); do
  gm convert "$tmp/crop.ppm" -units PixelsPerInch -density 300x300 -quality "$q" "$tmp/out.jpg"
  size=$(stat -c %s "$tmp/out.jpg")
  if [ "$size" -le 34900 ]; then
    mv "$tmp/out.jpg" "$out"
    echo "quality=$q bytes=$size"
    exit 0
  fi
done
echo "no quality fits" >&2
exit 1
