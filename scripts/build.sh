#!/usr/bin/env bash
# Configures and builds into ./build (or $BUILD_DIR).
#   build.sh                  every target (the program, tests, benchmarks)
#   build.sh TARGET...        only those targets (and what they need)
#   build.sh --quiet ...      the build log is shown only when the build fails
# TRELVIX_WERROR=ON makes every compiler warning an error (as in CI).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
quiet=0
if [ "${1:-}" = "--quiet" ]; then
  quiet=1
  shift
fi
targets=()
for t in "$@"; do targets+=(--target "$t"); done

steps() {
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
    -DTRELVIX_WERROR="${TRELVIX_WERROR:-OFF}" >/dev/null
  cmake --build "$build" -j"$(nproc)" "${targets[@]}"
}

if [ "$quiet" -eq 0 ]; then
  steps
  exit 0
fi
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
if ! steps >"$log" 2>&1; then
  cat "$log" >&2
  echo "build failed (log above)" >&2
  exit 1
fi
