#!/usr/bin/env bash
# Installs the dependencies, builds, and runs the pictura tool on the bundled sample photograph;
# the results land in out/ (greyscale, brightened, inverted, blurred, sharpened, envelope-toned).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup-debian.sh"
"$root/scripts/build.sh"
pictura="${BUILD_DIR:-$root/build}/tools/pictura"
sample="$root/samples/sample.png"
out="$root/out"
mkdir -p "$out"
"$pictura" "$sample" -o "$out/greyscale.png" --greyscale --time
"$pictura" "$sample" -o "$out/chain.png" --greyscale --brightness 20 --invert --time
"$pictura" "$sample" -o "$out/blur.png" --blur 100,4 --time
"$pictura" "$sample" -o "$out/sharpen.png" --sharpen 60,2 --time
"$pictura" "$sample" -o "$out/warm.bmp" --blue-envelop "$(seq -s, -f '%g=70' 128 255)" --apply-envelops --time
echo "results written to $out:"
ls -l "$out"
