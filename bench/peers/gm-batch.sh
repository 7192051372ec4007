#!/usr/bin/env bash
# The batch job with GraphicsMagick, which has no size target for JPEG: turn, crop and
# resize once to the size, then encode from quality 100 down until the file fits the limit.
#   gm-batch.sh ROTATION X,Y,W,H IN OUT [WIDTHxHEIGHT LIMIT]    (default 400x480 34900)
set -euo pipefail
rotation=$1
IFS=, read -r x y w h <<<"$2"
in=$3
out=$4
size=${5:-400x480}
limit=${6:-34900}
IFS=x read -r sw sh <<<"$size"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
gm convert "$in" -rotate "$rotation" -crop "${w}x${h}+${x}+${y}" +repage -resize "${size}!" "$tmp/crop.ppm"
for q in $(seq 100 -1 1); do
  gm convert "$tmp/crop.ppm" -units PixelsPerInch -density 300x300 -quality "$q" "$tmp/out.jpg"
  bytes=$(stat -c %s "$tmp/out.jpg")
  if [ "$bytes" -le "$limit" ]; then
    mv "$tmp/out.jpg" "$out"
    echo "quality=$q bytes=$bytes"
    exit 0
  fi
done
echo "no quality fits" >&2
exit 1
