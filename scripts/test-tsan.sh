#!/usr/bin/env bash
# Builds the programs whose code runs on several threads with ThreadSanitizer into TSAN_BUILD_DIR (default
# build-tsan/) and runs them, offscreen. Any data race ends the program with an error.
#
#   scripts/test-tsan.sh [PROGRAM...]     default: every program in the list below
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TSAN_BUILD_DIR:-$root/build-tsan}"
programs=("$@")
# Test programs that start threads; add a program here when its code starts threads.
((${#programs[@]})) || programs=(FiltersTest PointOpsTest KvPicturaDifferentialTest ViewerTest JpegCodecTest)

"$root/scripts/setup-debian.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPICTURA_SANITIZE=thread \
      -DPICTURA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target "${programs[@]}"

# Qt is not instrumented: the suppressions file says which of its reports are not races and why.
# Tests that start a program fork while threads run; the child only executes the program, so
# ThreadSanitizer need not end the process for that.
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:die_after_fork=0:suppressions=$root/scripts/tsan-qt.supp"
export QT_QPA_PLATFORM=offscreen
for program in "${programs[@]}"; do
    echo "== $program (ThreadSanitizer)"
    "$build/tests/$program"
done
