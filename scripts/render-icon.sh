#!/usr/bin/env bash
# Renders the window icon from its vector source. Needs rsvg-convert (librsvg2-bin).
# The PNG is committed, so building Brivela never needs this script.
set -euo pipefail
cd "$(dirname "$0")/.."
rsvg-convert --width 48 --height 48 --format png --output ui/brush.png ui/brush.svg
