#!/usr/bin/env bash
# Runs the PNG fuzz target for a while (default 60 seconds) over the seeds the
# build made and the corpus of earlier runs, kept in build/fuzz/corpus, and
# prints libFuzzer's closing figures. Then every input of that corpus and of
# tests/image/png_regressions is replayed once, each within a time and memory
# limit. An input that crashes, leaks, hangs or runs out of memory is copied
# into tests/image/png_regressions, to be committed with its fix, and fails
# the run.
set -euo pipefail
seconds=${1:-60}
build=build/fuzz
fuzzer="$build/tests/fuzz/png_loader_fuzz"
corpus="$build/corpus"
artifacts="$build/artifacts"
regressions=tests/image/png_regressions
# Sanitizers and coverage make decoding several times slower than in a
# release build; the limits leave room for that and for the largest
# pictures the target decodes.
limits=(-timeout=10 -rss_limit_mb=1024)
mkdir -p "$corpus" "$artifacts"
rm -f "$artifacts"/*

timeout $((seconds + 300)) "$fuzzer" -max_total_time="$seconds" "${limits[@]}" -print_final_stats=1 \
  -artifact_prefix="$artifacts/" "$corpus" "$build/tests/fuzz/seeds" \
  2>&1 | grep -E '^#[0-9]+[[:space:]]+DONE|^stat::|ERROR|SUMMARY' || true

# The replay: -runs=0 runs every input of the folders once and adds nothing.
replay=("$corpus")
compgen -G "$regressions/*" >/dev/null && replay+=("$regressions")
timeout 900 "$fuzzer" -runs=0 "${limits[@]}" -artifact_prefix="$artifacts/" "${replay[@]}" \
  2>&1 | grep -E '^#[0-9]+[[:space:]]+INITED|ERROR|SUMMARY' || true

if compgen -G "$artifacts/*" >/dev/null; then
  cp "$artifacts"/* "$regressions"/
  echo "fuzzing found failures, copied to $regressions: $(ls "$artifacts")"
  exit 1
fi
