#!/usr/bin/env bash
# Runs the demonstration from a build folder, in the folder that holds its
# pictures: in a window when a display is available, otherwise headless,
# writing a snapshot.
set -euo pipefail
build=${1:-build/release}
cd "$build/bin"
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec ./nubrik
fi
echo "No display: running the scene headless (nubrik-headless)."
./nubrik-headless --snapshot nubrik.png
echo "Snapshot written to $(pwd)/nubrik.png"
