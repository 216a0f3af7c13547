#!/usr/bin/env bash
# Runs every benchmark of a build folder, then the headless demonstration for
# a fixed number of frames.
set -euo pipefail
build=${1:-build/release}
for b in "$build"/bench/*_bench; do
  echo "== $(basename "$b")"
  "$b" --benchmark_min_time=0.2
done
echo "== nubrik-headless --frames 1000"
(cd "$build/bin" && ./nubrik-headless --frames 1000)
