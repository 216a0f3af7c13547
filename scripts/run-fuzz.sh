#!/usr/bin/env bash
# Runs the PNG fuzz target for a while (default 60 seconds) over the seeds the
# build made, and prints libFuzzer's closing figures. Crashes are kept in
# build/fuzz/artifacts.
set -euo pipefail
seconds=${1:-60}
build=build/fuzz
corpus=$(mktemp -d)
mkdir -p "$build/artifacts"
"$build/tests/fuzz/png_loader_fuzz" -max_total_time="$seconds" -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$build/artifacts/" "$corpus" "$build/tests/fuzz/seeds" \
  2>&1 | grep -E '^#[0-9]+[[:space:]]+DONE|^stat::|ERROR|SUMMARY' || true
rm -rf "$corpus"
# A crash leaves an artifact and fails the run.
if compgen -G "$build/artifacts/*" >/dev/null; then
  echo "fuzzing found failures: $(ls "$build/artifacts")"
  exit 1
fi
