#!/usr/bin/env bash
# Runs every benchmark of a build folder.
set -euo pipefail
build=${1:-build/release}
for b in "$build"/bench/*_bench; do
  echo "== $(basename "$b")"
  "$b" --benchmark_min_time=0.2
done
