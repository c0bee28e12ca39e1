#!/usr/bin/env bash
# The file benchmark: an 8000 x 6000 photo-like picture (written here on each run, not stored) copied as
# PNG and as JPEG with no operation, and with --greyscale --blur 50,2, by pictura and, when they are
# installed, by vips and ImageMagick (benchmark-only peers, never needed by the build or the tests).
# Each command runs ROUNDS times (default 3), the commands taking turns; the best wall time and the
# largest peak memory are printed, then pictura's ratios to vips.
#
# With BUSY=1 a process spins on the last core for the whole run, as other work does on a desktop.
#
# Usage: [BUSY=1] bench/file-copy.sh [BUILD_DIR]      (default: build; needs GNU time at /usr/bin/time)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
rounds="${ROUNDS:-3}"
width=8000 height=6000
tool="$build/tools/pictura"
photo="$build/bench/pictura-bench-photo"
for program in "$tool" "$photo" /usr/bin/time; do
    [ -x "$program" ] || { echo "file-copy: $program is missing (build the project first)" >&2; exit 1; }
done
vips="$(command -v vips || true)"
magick="$(command -v magick || command -v convert-im6.q16 || true)"
work="$(mktemp -d)"
spinner=""
trap 'rm -rf "$work"; [ -z "$spinner" ] || kill "$spinner" 2>/dev/null' EXIT
if [ "${BUSY:-0}" = 1 ]; then
    last=$(($(nproc) - 1))
    taskset -c "$last" bash -c 'while :; do :; done' &
    spinner=$!
fi
"$photo" "$width" "$height" "$work/photo.png" "$work/photo.jpg"

# name -> command (run by bash), output file
declare -A commands outputs
order=()
add() { order+=("$1"); commands[$1]="$2"; outputs[$1]="$3"; }
for ext in png jpg; do
    in="$work/photo.$ext"
    add "pictura copy $ext" "'$tool' '$in' -o '$work/p.$ext' -q" "$work/p.$ext"
    [ -n "$vips" ] && add "vips copy $ext" "'$vips' copy '$in' '$work/v.$ext'" "$work/v.$ext"
    [ -n "$magick" ] && add "magick copy $ext" "'$magick' '$in' '$work/m.$ext'" "$work/m.$ext"
    add "pictura grey+blur $ext" "'$tool' '$in' -o '$work/pg.$ext' -q --greyscale --blur 50,2" "$work/pg.$ext"
    [ -n "$vips" ] &&
        add "vips grey+blur $ext" \
            "'$vips' colourspace '$in' '$work/t.v' b-w && '$vips' gaussblur '$work/t.v' '$work/vg.$ext' 2" \
            "$work/vg.$ext"
    [ -n "$magick" ] &&
        add "magick grey+blur $ext" "'$magick' '$in' -colorspace Gray -blur 0x2 '$work/mg.$ext'" "$work/mg.$ext"
done

declare -A best peak
for ((round = 1; round <= rounds; ++round)); do
    for name in "${order[@]}"; do
        [ "${best[$name]:-}" = failed ] && continue
        if ! /usr/bin/time -f "%e %M" -o "$work/time" bash -c "${commands[$name]}" >/dev/null 2>"$work/err"; then
            # pictura must work; a peer may be refused by its own resource policy
            echo "file-copy: $name failed: $(tail -1 "$work/err")" >&2
            [[ $name == pictura* ]] && exit 1
            best[$name]=failed
            continue
        fi
        read -r wall kib <"$work/time"
        if [ -z "${best[$name]:-}" ] || awk "BEGIN{exit !($wall < ${best[$name]})}"; then best[$name]=$wall; fi
        if [ -z "${peak[$name]:-}" ] || ((kib > ${peak[$name]})); then peak[$name]=$kib; fi
    done
done

echo "$width x $height photo, $(nproc) cores$([ -n "$spinner" ] && echo ", one kept busy"), best of $rounds rounds" \
    "(load average: $(cut -d' ' -f1-3 /proc/loadavg))"
printf "%-24s %10s %12s %14s\n" "" "wall s" "peak MiB" "output bytes"
for name in "${order[@]}"; do
    [ "${best[$name]}" = failed ] && { printf "%-24s %10s\n" "$name" failed; continue; }
    printf "%-24s %10.2f %12.1f %14d\n" "$name" "${best[$name]}" "$(awk "BEGIN{print ${peak[$name]}/1024}")" \
        "$(stat -c %s "${outputs[$name]}")"
done
picture=$((width * height * 3))
echo "goal for peak memory: picture size + 64 MiB = $(awk "BEGIN{printf \"%.1f\", $picture/1048576 + 64}") MiB"
if [ -n "$vips" ]; then
    for what in "copy png" "copy jpg" "grey+blur png" "grey+blur jpg"; do
        [ "${best[vips $what]}" = failed ] && continue
        printf "pictura / vips, %-14s time %.2fx, output size %.2fx\n" "$what:" \
            "$(awk "BEGIN{print ${best[pictura $what]} / ${best[vips $what]}}")" \
            "$(awk "BEGIN{print $(stat -c %s "${outputs[pictura $what]}") / $(stat -c %s "${outputs[vips $what]}")}")"
    done
fi
