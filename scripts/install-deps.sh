#!/usr/bin/env bash
# Installs what building, running and testing Brivela needs, on Debian or Ubuntu.
# Only packages that are missing are installed, so a second run is quick and quiet.
set -euo pipefail

packages=(
    build-essential
    cmake
    qt6-base-dev
    qt6-base-dev-tools
    qt6-image-formats-plugins
    libgl-dev
    pkg-config
    clang-format
    libzip-dev
    libturbojpeg0-dev
    libexiv2-dev
    libheif-dev
    libspng-dev
    libeigen3-dev
    libbenchmark-dev
    xvfb
    xauth
    desktop-file-utils
    appstream
    python3
    python3-pil
)

# The benchmarks judge quality on real photos that these packages ship
# (python3-skimage's data folder, opencv-doc's samples); their grey and
# colour copies are made at build time with Pillow and NumPy. Only
# `install-deps.sh --bench` (make bench) installs them. The fill's quality
# run compares with OpenCV's grabCut and with the earlier fill (cut with Boost
# Graph), which only the benchmark links.
if [[ "${1:-}" == "--bench" ]]; then
    packages+=(
        libboost-graph-dev
        python3-numpy
        python3-skimage
        opencv-doc
        libopencv-contrib-dev
        libopencv-dev
    )
fi

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if [[ ${#missing[@]} -eq 0 ]]; then
    exit 0
fi

echo "Installing missing packages: ${missing[*]}"
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
    sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
