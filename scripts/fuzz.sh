#!/usr/bin/env bash
# Fuzzes the package library and the embedded application with libFuzzer (clang 14):
# builds the targets into build-fuzz, seeds them from the shared workbooks and small built
# packages, and runs both at once for the given time over the given number of jobs.
# A finding is a crash, a sanitizer report, a saved workbook that does not open again, a
# failed job that changed the file, or a temporary left behind.
# usage: scripts/fuzz.sh [seconds=600] [jobs=8]
# FUZZ_OUT (default: a new folder under ${TMPDIR:-/tmp}) keeps corpora and findings; it is
# removed at the end unless something was found or FUZZ_KEEP=1.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/deps.sh"
seconds="${1:-600}"
jobs="${2:-8}"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
corpus="${TRELVIX_CORPUS_DIR:-$root/../shared/corpus}"
out="${FUZZ_OUT:-$(mktemp -d "${TMPDIR:-/tmp}/trelvix-fuzz.XXXXXX")}"
mkdir -p "$out"

CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTRELVIX_BUILD_FUZZ=ON -DTRELVIX_BUILD_TESTS=OFF -DTRELVIX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_package fuzz_parts -j"$jobs"

python3 "$root/fuzz/seeds.py" "$corpus" "$out/corpus-package" "$out/corpus-parts"

export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:symbolize=1"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1"
export TMPDIR="$out"
half=$(( jobs / 2 > 0 ? jobs / 2 : 1 ))
pids=()
for target in fuzz_package fuzz_parts; do
  n=$half
  [ "$target" = fuzz_package ] && n=$(( jobs - half > 0 ? jobs - half : 1 ))
  mkdir -p "$out/findings-$target"
  (cd "$out" && "$build/fuzz/$target" "$out/corpus-${target#fuzz_}" -fork="$n" \
     -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -max_len=1100000 \
     -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 -dict="$root/fuzz/xlsx.dict" \
     -artifact_prefix="$out/findings-$target/" >"$out/$target.log" 2>&1) &
  pids+=($!)
done
for p in "${pids[@]}"; do wait "$p" || true; done

found=0
for target in fuzz_package fuzz_parts; do
  echo "== $target"
  grep -E '^#[0-9]+: cov' "$out/$target.log" | tail -1 || true
  grep -E 'DONE|FINDING' "$out/$target.log" | sort | uniq -c | head -20 || true
  n=$(find "$out/findings-$target" -type f | wc -l)
  echo "findings: $n"
  [ "$n" -gt 0 ] && found=1
done
if [ "$found" = 1 ] || [ "${FUZZ_KEEP:-0}" = 1 ]; then
  echo "kept: $out"
else
  rm -rf "$out"
fi
