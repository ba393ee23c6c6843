#!/usr/bin/env bash
# Guest speed in one invocation: korvane-bench, the compiled CoreMark image under korvane-run
# (when ../shared/perf is beside the source tree) and CoreMark built natively from its sources,
# with MIPS, ns per instruction and the ratio to native code. Times are CPU times of each
# process (user + system), so other load on a shared machine distorts them less than wall time.
# Usage: [RUNS=n] bench/speed.sh [BUILD_DIR] [OTHER_BUILD_DIR...]
#   RUNS: each measurement is taken n times (default 1) and the least CPU time counts, which a
#   busy machine disturbs least.
#   OTHER_BUILD_DIR: further builds (korvane-run and bench/korvane-bench in them) measured in
#   the same invocation, for before/after figures.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$here/build}" && pwd)"
shift || true
builds=("$build" "$@")
perf_dir="$here/../shared/perf"
native_iterations=20000
work="$(mktemp -d /tmp/korvane_speed_XXXXXX)"
trap 'rm -rf "$work"' EXIT

runs="${RUNS:-1}"

# The least CPU seconds of $runs runs of a command (the output of the last goes to $work/out).
cpu_seconds() {
  local TIMEFORMAT='%U %S' best="" s i
  for ((i = 0; i < runs; i++)); do
    { time "$@" >"$work/out" 2>&1; } 2>"$work/time"
    s=$(awk '{ printf "%.3f", $1 + $2 }' "$work/time")
    if [ -z "$best" ] || awk -v a="$s" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$s; fi
  done
  echo "$best"
}

report() {  # name instructions seconds
  awk -v n="$1" -v i="$2" -v s="$3" 'BEGIN {
    printf "%-44s %12d instr %8.3f s %8.1f MIPS %7.2f ns/instr\n", n, i, s, i / s / 1e6, s * 1e9 / i }'
}

echo "== korvane-bench (200000000 instructions)"
for b in "${builds[@]}"; do
  s=$(cpu_seconds "$b/bench/korvane-bench" 200000000)
  report "$b/bench/korvane-bench" 200000000 "$s"
done

if [ ! -f "$perf_dir/coremark.out" ]; then
  echo "== CoreMark: $perf_dir/coremark.out is not there, skipped"
  exit 0
fi

echo "== CoreMark natively ($native_iterations iterations)"
native="$build/bench/coremark-native"
if [ ! -x "$native" ] || [ -n "$(find "$perf_dir/coremark" -newer "$native" -name '*.[ch]')" ]; then
  (cd "$perf_dir/coremark" && gcc -O2 -I. -Ilinux -DPERFORMANCE_RUN=1 \
    -DITERATIONS=$native_iterations '-DFLAGS_STR="-O2"' core_list_join.c core_main.c \
    core_matrix.c core_state.c core_util.c linux/core_portme.c -o "$native")
fi
# Seeds as in the image's performance run; the fourth argument is the iteration count.
s=$(cpu_seconds "$native" 0 0 0x66 $native_iterations)
ran=$(sed -n 's/^Iterations *: *\([0-9]*\).*/\1/p' "$work/out")
native_rate=$(awk -v n="$ran" -v s="$s" 'BEGIN { printf "%.1f", n / s }')
echo "$native: $ran iterations in $s s, $native_rate iterations/s"

echo "== CoreMark image (1000 iterations) under korvane-run"
cp "$perf_dir/coremark.out" "$work/coremark.out"
: >"$work/coremark.xcl"
: >"$work/coremark.mem"
for b in "${builds[@]}"; do
  s=$(cd "$work" && cpu_seconds "$b/korvane-run" --log log.txt --keys CTRL+X -- korvane coremark)
  n=$(sed -n 's/.*Instructions= \([0-9]*\).*/\1/p' "$work/log.txt" | tail -1)
  report "$b/korvane-run" "$n" "$s"
  awk -v s="$s" -v r="$native_rate" 'BEGIN {
    printf "%-44s %12.1f iterations/s, %.1f times slower than native\n", "", 1000 / s, r * s / 1000 }'
done
