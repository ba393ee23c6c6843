#!/usr/bin/env bash
# Scenarios per second of korvane-test on the demo's regression suite, with 1 and 2 jobs.
# Usage: bench/scenarios.sh [BUILD_DIR] [ROUNDS]   (default: build, 3 rounds; best round counts)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$here/build}" && pwd)"
rounds="${2:-3}"
suite="$here/examples/demo/scenarios"
count=$(find "$suite" -name '*.toml' | wc -l)
for jobs in 1 2; do
  best=""
  for _ in $(seq "$rounds"); do
    start=$(date +%s.%N)
    "$build/korvane-test" --jobs "$jobs" --project-dir "$build/examples/demo" "$suite" >/dev/null
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  printf '%d job(s): %d scenarios in %.2f s = %.2f scenarios/s\n' "$jobs" "$count" "$best" \
    "$(echo "$count / $best" | bc -l)"
done
