#!/usr/bin/env bash
# The batch job with the vips command-line tools: turn, crop, resize to 400x480 and set
# 300 dpi, then save from quality 100 down until the file fits 34,900 bytes.
#   vips-batch.sh ROTATION X,Y,W,H IN OUT
set -euo pipefail
rotation=$1
IFS=, read -r x y w h <<<"$2"
in=$3
out=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
vips rot "$in" "$tmp/turned.v" "d$rotation"
vips extract_area "$tmp/turned.v" "$tmp/crop.v" "$x" "$y" "$w" "$h"
hscale=$(awk -v w="$w" 'BEGIN { printf "%.10f", 400 / w }')
vscale=$(awk -v h="$h" 'BEGIN { printf "%.10f", 480 / h }')
vips resize "$tmp/crop.v" "$tmp/sized.v" "$hscale" --vscale "$vscale"
vips copy "$tmp/sized.v" "$tmp/final.v" --xres 11.8110236 --yres 11.8110236 # pixels per mm
for q in $(seq 100 -1 1); do
  vips jpegsave "$tmp/final.v" "$tmp/out.jpg" --Q "$q" --optimize-coding
  size=$(stat -c %s "$tmp/out.jpg")
  if [ "$size" -le 34900 ]; then
    mv "$tmp/out.jpg" "$out"
    echo "quality=$q bytes=$size"
    exit 0
  fi
done
echo "no quality fits" >&2
exit 1
