#!/usr/bin/env bash
# Runs the demonstration from a build folder.
set -euo pipefail
echo "The demonstration program is not built yet; 'make test' builds and tests the engine."
