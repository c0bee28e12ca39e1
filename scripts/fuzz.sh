#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into FUZZ_BUILD_DIR (default build-fuzz/) and runs each one for
# SECONDS (default 600), one after the other, starting from its seed corpus; new inputs collect in
# <build>/corpus/<target>/. Stops with an error at the first failure; the input that caused it is
# kept as <build>/artifacts/<target>-crash-... (copy it to tests/data/fuzz-regressions/<target>/).
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     targets: load-picture operations command-line envelope-file
#                                             (default all)
#   FUZZ_SEED=N scripts/fuzz.sh ...            the same mutation sequence on every run
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${1:-600}"
shift || true
targets=("$@")
((${#targets[@]})) || targets=(load-picture operations command-line envelope-file)

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++ -DPICTURA_FUZZ=ON -DPICTURA_BUILD_TESTS=OFF -DPICTURA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target "${targets[@]/#/fuzz-}"

export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
mkdir -p "$build/artifacts"
for target in "${targets[@]}"; do
    corpus="$build/corpus/$target"
    mkdir -p "$corpus"
    seeds=("$root/fuzz/corpus/$target" "$root/tests/data/fuzz-regressions/$target")
    options=()
    # A fixed seed (CI sets one) makes a short run repeat the same inputs every time.
    [ -n "${FUZZ_SEED:-}" ] && options+=("-seed=$FUZZ_SEED")
    case "$target" in
    load-picture) # the picture suites as seeds; inputs kept small, as large ones only slow the search
        seeds+=("$root/tests/data/bmp" "$root/tests/data/png" "$root/tests/data/gif")
        options+=(-max_len=65536) ;;
    command-line) options+=("-dict=$root/fuzz/command-line.dict") ;;
    esac
    existing=()
    for dir in "${seeds[@]}"; do [ -d "$dir" ] && existing+=("$dir"); done
    log="$build/fuzz-$target.log"
    echo "fuzz-$target: ${seconds}s (log: $log)"
    if ! "$build/fuzz/fuzz-$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 -print_final_stats=1 \
            -artifact_prefix="$build/artifacts/$target-" "${options[@]}" "$corpus" "${existing[@]}" >"$log" 2>&1; then
        tail -n 80 "$log"
        echo "fuzz-$target FAILED; the input is in $build/artifacts/" >&2
        exit 1
    fi
    grep -E "^stat::number_of_executed_units|^stat::new_units_added|^stat::peak_rss_mb" "$log" | sed "s/^/  /"
done
