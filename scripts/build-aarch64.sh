#!/usr/bin/env bash
# Cross-builds the libraries, the tools and the tests for 64-bit ARM Linux into BUILD_DIR (default
# build-aarch64/), with Debian 12's cross compilers against the arm64 multiarch packages. Installs what it
# needs first (as root, or through sudo; nothing when everything is there): the x86-64 build's packages,
# whose Qt build tools (moc) the cross build uses, then the cross compilers, qemu and the arm64 libraries
# and headers. The benchmarks are left out (no arm64 Google Benchmark is installed), and so is the Designer
# plugin (its arm64 Qt packages would replace the x86-64 Qt tools). Extra arguments go to CMake's configure.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build-aarch64}"
"$root/scripts/setup-debian.sh"

sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    $sudo dpkg --add-architecture arm64
fi
# Only Multi-Arch "same" library packages from arm64: the tools packages (qt6-base-dev-tools and the like) stay
# the x86-64 ones, which satisfy the arm64 packages' dependencies on them.
packages=(g++-aarch64-linux-gnu qemu-user qt6-base-dev:arm64 libgtest-dev:arm64 zlib1g-dev:arm64 libgl-dev:arm64
          libtiff-dev:arm64 libpng-dev:arm64 libturbojpeg0-dev:arm64 libjpeg62-turbo-dev:arm64 libwebp-dev:arm64)
missing=()
for p in "${packages[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
if ((${#missing[@]})); then
    # The arm64 libraries must be the very versions of the installed x86-64 ones: apt upgrades those too.
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake" \
    -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" -DPICTURA_BUILD_BENCH=OFF \
    -DPICTURA_BUILD_DESIGNER_PLUGIN=OFF "${launcher[@]}" "$@" >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}"
