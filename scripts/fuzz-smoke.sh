#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a few seconds each, starting from
# the seed corpus kept beside its source (fuzz/corpus/TARGET).
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-30}
cd "$(dirname "$0")/.."
status=0
for target in "$build"/fuzz/fuzz_*; do
  [ -f "$target" ] && [ -x "$target" ] || continue  # skips the *_autogen folders
  name=$(basename "$target")
  work=$(mktemp -d)
  if [ -d "fuzz/corpus/$name" ]; then cp -r "fuzz/corpus/$name/." "$work/"; fi
  echo "-- $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 "$work" 2>&1 | tail -n 12; then
    status=1
  fi
  rm -rf "$work"
done
exit $status
