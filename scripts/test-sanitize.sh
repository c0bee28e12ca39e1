#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into ASAN_BUILD_DIR (default
# build-asan/) and runs every test there, offscreen. Any sanitizer report ends its program with an error,
# so the run fails on the first one. The benchmarks are left out (they only measure speed). The control's rules
# run in the integer arithmetic TExtended here (as on machines without the x87), so the whole suite checks it
# against the models, which keep the x87; the long comparison of the two, run by the normal build, is left out.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ASAN_BUILD_DIR:-$root/build-asan}"
BUILD_DIR="$build" "$root/scripts/build.sh" -DPICTURA_SANITIZE=ON -DPICTURA_BUILD_BENCH=OFF -DPICTURA_PORTABLE_ARITHMETIC=ON
# Leaks are reported too (LeakSanitizer, part of ASan): the tests and the tool free what they allocate.
export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -LE long -j "${JOBS:-$(nproc)}"
