#!/usr/bin/env bash
# Renders the window icon and the tool bar icons from their vector sources.
# Needs rsvg-convert (librsvg2-bin). The PNGs are committed, so building
# Brivela never needs this script.
set -euo pipefail
cd "$(dirname "$0")/.."
rsvg-convert --width 48 --height 48 --format png --output ui/brush.png ui/brush.svg
# Tool bar icons at 24 x 24, with a 48 x 48 version that QIcon picks by its
# @2x name on high-density screens.
for icon in brush-tool keep-marks remove-marks fill colour-marks spread; do
    rsvg-convert --width 24 --height 24 --format png --output "ui/$icon.png" "ui/$icon.svg"
    rsvg-convert --width 48 --height 48 --format png --output "ui/$icon@2x.png" "ui/$icon.svg"
done
