#!/usr/bin/env bash
# Makes the panel's tiled brushed-aluminium background, resources/bundle/metal.png.
# Run by hand after changing it; the output is committed. Needs ImageMagick.
# Noise smeared horizontally, with tiled edges so the tile repeats without seams.
set -euo pipefail
out="${1:-$(dirname "$0")/../../resources/bundle/metal.png}"
convert -size 256x256 xc:'#c9ccd1' -seed 7 -attenuate 0.6 +noise Gaussian \
    -colorspace Gray -virtual-pixel tile -motion-blur 0x40+0 -motion-blur 0x40+180 \
    -level 18%,92% +level 71%,86% -depth 8 -strip "$out"
echo "$out"
