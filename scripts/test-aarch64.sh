#!/usr/bin/env bash
# Runs the aarch64 cross build's tests under qemu-aarch64, offscreen, then runs the pictura tool of both
# builds on the same pictures and operation chains and compares their outputs byte for byte.
#   BUILD_DIR       the aarch64 build (default build-aarch64/, made by scripts/build-aarch64.sh)
#   HOST_BUILD_DIR  the x86-64 build (default build/, made by scripts/build.sh)
# The tests labelled "programs" start other programs of the build, which qemu-user cannot do (no binfmt
# handler is assumed), and are left out, as are the three that need Qt's extra image formats (below); the label
# "long" (the comparison with the x87) skips itself there.
# The multiarch programs run without qemu's -L: with it, the cross toolchain's loader meets the multiarch C
# library of another version and every thread start spins for ever.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build-aarch64}"
host="${HOST_BUILD_DIR:-$root/build}"
export QT_QPA_PLATFORM=offscreen

# Qt's extra image-format plugins (TIFF, ICNS, WebP) are not installed for arm64 (their package would replace
# the x86-64 one): the tests that read or write those formats through Qt are left out too.
needs_plugins='PictureBounds\.(TiffThatWouldBeFilledWithInventedPixelsIsRefused|LibtiffsComplaintsNameTheFileOnceAndRefuseMissingPixels|SavesThatWouldChangeThePictureAreRefusedBeforeAnyWork)'
(cd "$build" && ctest --output-on-failure -LE programs -E "$needs_plugins" -j "${JOBS:-$(nproc)}")

# Pictures: every 24-bit colour once (4096 x 4096), seeded noise, and the samples (one 256-colour).
work="$build/compare"
rm -rf "$work"
mkdir -p "$work/in" "$work/x86_64" "$work/aarch64"
perl -e 'print "P6\n4096 4096\n255\n"; for $r (0..255) { for $g (0..255) { print pack("C*", map { ($r, $g, $_) } 0..255) } }' \
    >"$work/in/colours.ppm"
perl -e 'srand(28); print "P6\n509 371\n255\n"; print pack("C*", map { int(rand(256)) } 1..(3 * 509 * 371))' \
    >"$work/in/noise.ppm"
cp "$root/samples/sample.png" "$root/samples/sample-palette.png" "$work/in/"

# Point operations and envelopes on every picture; filters (slow under qemu) on all but the colours.
point_chains=("--greyscale" "--brightness 37" "--brightness -63" "--brightness 100" "--invert --brightness 1"
    "--red-envelop 10=33.3333,200=66.6667,255=7 --green-curve 0=0,128=33.3333,255=100 --blue-curve 0=100,255=0.5 --apply-envelops"
    "--curve 0=12.5,99=57.1428,255=99.9999 --apply-red-envelop --apply-blue-envelop")
filter_chains=("--blur 50,2" "--sharpen 75,3" "--blur -128,1" "--sharpen 127,40" "--blur 100,40" "--blur 13,17"
    "--greyscale --blur 50,2 --invert" "--sharpen -37,5 --brightness -20")
outputs=0
differing=()
run_chain() { # input, chain, index, extension
    local input="$1" chain="$2" name
    name="$(basename "${input%.*}")-$3.$4"
    # shellcheck disable=SC2086 # a chain is several words
    "$host/tools/pictura" "$input" -o "$work/x86_64/$name" --yes -q $chain
    # shellcheck disable=SC2086
    qemu-aarch64 "$build/tools/pictura" "$input" -o "$work/aarch64/$name" --yes -q $chain
    outputs=$((outputs + 1))
    cmp -s "$work/x86_64/$name" "$work/aarch64/$name" || differing+=("$name ($chain)")
}
for input in "$work"/in/*; do
    i=0
    for chain in "${point_chains[@]}"; do run_chain "$input" "$chain" "p$((i++))" bmp; done
    [ "$(basename "$input")" = colours.ppm ] && continue
    i=0
    for chain in "${filter_chains[@]}"; do run_chain "$input" "$chain" "f$((i++))" bmp; done
    run_chain "$input" "--greyscale --sharpen 60,2" png png
done
if ((${#differing[@]})); then
    printf 'aarch64 output differs from x86-64: %s\n' "${differing[@]}" >&2
    exit 1
fi
echo "aarch64: $outputs tool outputs byte-identical to x86-64's (in $work)"
