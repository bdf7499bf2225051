#!/usr/bin/env bash
# Builds the tests with ThreadSanitizer into build-tsan (or $TSAN_BUILD_DIR) and runs them; any
# report fails the run. Qt, QuaZip and LibreOffice's libraries are not instrumented: what is
# reported inside them alone is suppressed by scripts/tsan.supp.
# usage: scripts/tsan.sh [ctest arguments...]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/deps.sh"
build="${TSAN_BUILD_DIR:-$root/build-tsan}"
flags="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRELVIX_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread" >/dev/null
cmake --build "$build" -j"${TSAN_JOBS:-$(nproc)}"
export QT_QPA_PLATFORM=offscreen
# A report ends its test at once, before it removes its temporary folders: they go here.
rm -rf "$build/tmp"
mkdir -p "$build/tmp"
export TMPDIR="$build/tmp"
export TSAN_OPTIONS="suppressions=$root/scripts/tsan.supp:halt_on_error=1:exitcode=66:second_deadlock_stack=1:report_signal_unsafe=0"
cd "$build"
ctest --output-on-failure -j"${TSAN_JOBS:-$(nproc)}" "$@"
