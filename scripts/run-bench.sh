#!/usr/bin/env bash
# Runs every benchmark of a build folder, then the headless demonstration for
# a fixed number of frames. The window benchmark needs a display: without one,
# a virtual X server runs for the length of this script.
set -euo pipefail
build=${1:-build/release}

if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null; then
  number_file=$(mktemp)
  # The server picks a free display number and writes it to descriptor 3; it
  # does not reset between benchmarks, when their last connection closes.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$number_file" 2>/dev/null &
  xvfb_pid=$!
  trap 'kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; rm -f "$number_file"' EXIT
  for _ in $(seq 100); do
    [ -s "$number_file" ] && break
    sleep 0.1
  done
  if [ -s "$number_file" ]; then
    export DISPLAY=":$(head -n1 "$number_file")"
    echo "== virtual display $DISPLAY"
  fi
fi

for b in "$build"/bench/*_bench; do
  echo "== $(basename "$b")"
  "$b" --benchmark_min_time=0.2
done
echo "== nubrik-headless --frames 1000"
(cd "$build/bin" && ./nubrik-headless --frames 1000)
