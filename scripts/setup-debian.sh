#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (as root, or through sudo).
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config
          qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools libgl-dev zlib1g-dev libtiff-dev
          libpng-dev libturbojpeg0-dev libjpeg62-turbo-dev libwebp-dev
          libgtest-dev libbenchmark-dev clang libclang-rt-14-dev clang-format qt6-image-formats-plugins
          libopencv-imgproc-dev) # the last: the peer in the benchmarks only
missing=()
for p in "${packages[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
if ((${#missing[@]})); then
    sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
