#!/usr/bin/env bash
# Builds the run benchmarks (Release), writes the workbooks into a scratch
# folder, runs our engine, our window, openpyxl and the zip floor on fresh
# copies of them, checks every output, and prints the table.
# Options are passed on to bench/run/bench.py (see --help there), e.g.
#   scripts/bench.sh --runs 5 --callgrind
#   scripts/bench.sh --only LARGE,REWRITE,HUGE   (HUGE runs only when named: ~8 min)
# BENCH_BUILD_DIR (default ./build-bench) and BENCH_WORK_DIR (default a new
# temporary folder, removed at the end) can be set.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BENCH_BUILD_DIR:-$root/build-bench}"
bash "$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target bench_run_engine bench_run_window

if [ -n "${BENCH_WORK_DIR:-}" ]; then
  work="$BENCH_WORK_DIR"
else
  work="$(mktemp -d "${TMPDIR:-/tmp}/trelvix-bench.XXXXXX")"
  trap 'rm -rf "$work"' EXIT
fi
/usr/bin/python3 "$root/bench/run/bench.py" --build "$build" --work "$work" "$@"
