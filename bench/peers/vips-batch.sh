#!/usr/bin/env bash
# The batch job with the vips command-line tools: turn, crop, resize to the size and set
# 300 dpi, then save from quality 100 down until the file fits the limit.
#   vips-batch.sh ROTATION X,Y,W,H IN OUT [WIDTHxHEIGHT LIMIT]    (default 400x480 34900)
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
vips rot "$in" "$tmp/turned.v" "d$rotation"
vips extract_area "$tmp/turned.v" "$tmp/crop.v" "$x" "$y" "$w" "$h"
hscale=$(awk -v w="$w" -v sw="$sw" 'BEGIN { printf "%.10f", sw / w }')
vscale=$(awk -v h="$h" -v sh="$sh" 'BEGIN { printf "%.10f", sh / h }')
vips resize "$tmp/crop.v" "$tmp/sized.v" "$hscale" --vscale "$vscale"
vips copy "$tmp/sized.v" "$tmp/final.v" --xres 11.8110236 --yres 11.8110236 # pixels per mm
for q in $(seq 100 -1 1); do
  vips jpegsave "$tmp/final.v" "$tmp/out.jpg" --Q "$q" --optimize-coding
  bytes=$(stat -c %s "$tmp/out.jpg")
  if [ "$bytes" -le "$limit" ]; then
    mv "$tmp/out.jpg" "$out"
    echo "quality=$q bytes=$bytes"
    exit 0
  fi
done
echo "no quality fits" >&2
exit 1
