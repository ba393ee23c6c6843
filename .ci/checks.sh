#!/usr/bin/env bash
# The CI checks behind `./korvane.sh ci`, each in its own build folder, timed:
#   1. the normal suite, built with -Werror (build-werror)
#   2. the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer, halting on the first
#      error (build-asan)
#   3. the emulation-thread and window tests under ThreadSanitizer (build-tsan)
#   4. clang-format on the C++ files the change touches (see below)
#   5. each fuzz target for KORVANE_FUZZ_SECONDS (default 20) on its committed corpus
#      (build-fuzz, clang)
# "The change" is every commit since the last one on which this script passed in this clone
# (the ref refs/ci/passed, moved on success), plus uncommitted edits. A fresh clone has no such
# ref: the change is then the last commit. KORVANE_CI_BASE=<rev> names the base explicitly
# (e.g. origin/main). Arguments run only the named steps: `.ci/checks.sh format fuzz`.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs="$(nproc)"
supp="$PWD/.ci/sanitizer.supp"
fuzz_seconds="${KORVANE_FUZZ_SECONDS:-20}"
timings=()

step() {
  local name="$1"
  shift
  echo "=== $name"
  local start=$SECONDS
  "$@"
  timings+=("$(printf '%-34s %4d s' "$name" $((SECONDS - start)))")
}

# One suppression file for every sanitizer; each tool gets the lines of its own kinds.
suppressions_for() {  # KIND-REGEX OUT
  grep -E "^($1):" "$supp" >"$2" || true
}

werror_suite() {
  cmake -S . -B build-werror -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS=-Werror >/dev/null
  cmake --build build-werror -j "$jobs"
  (cd build-werror && ctest --output-on-failure -j "$jobs")
}

asan_suite() {
  local flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
  cmake --build build-asan -j "$jobs"
  suppressions_for leak build-asan/lsan.supp
  (cd build-asan &&
    ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    LSAN_OPTIONS="suppressions=$PWD/lsan.supp:print_suppressions=0" \
      ctest --output-on-failure -j "$jobs")
}

# The tests that run an emulation thread beside the thread that drives it: the run loop's host
# stop and pause, the LCD copy against a running loop, the emulation thread object, korvane-run
# (its own emulation thread, also stopped while the firmware waits on a serial port)
# and the window.
TSAN_TESTS='^(RunLoop\.HostStop|LcdCopy\.|Runner\.|EmulationThread\.|DebuggerThread\.|Responsive\.|MainWindowTest\.)'

tsan_tests() {
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS="-fsanitize=thread" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
  cmake --build build-tsan -j "$jobs" --target core_tests services_tests tools_tests driver_tests shell_tests
  suppressions_for 'race|race_top|mutex|thread|signal|called_from_lib|deadlock' build-tsan/tsan.supp
  (cd build-tsan &&
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tsan.supp" \
      ctest --output-on-failure -j "$jobs" -R "$TSAN_TESTS")
}

format_check() {
  local format=clang-format-14
  command -v "$format" >/dev/null || format=clang-format
  local base="${KORVANE_CI_BASE:-}"
  if [ -z "$base" ]; then
    if git rev-parse -q --verify refs/ci/passed >/dev/null &&
      git merge-base --is-ancestor refs/ci/passed HEAD; then
      base=refs/ci/passed
    elif git rev-parse -q --verify HEAD~1 >/dev/null; then
      base=HEAD~1
    else
      base=$(git hash-object -t tree /dev/null)  # a single commit: every file is new
    fi
  fi
  local files=()
  mapfile -t files < <(git diff --name-only --diff-filter=ACMR "$base" -- '*.cpp' '*.h')
  echo "checking ${#files[@]} file(s) changed since $base"
  [ ${#files[@]} -eq 0 ] || "$format" --dry-run --Werror "${files[@]}"
}

fuzz_runs() {
  cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
    -DKORVANE_FUZZ=ON -DBUILD_TESTING=OFF -DKORVANE_BUILD_SHELL=OFF >/dev/null
  cmake --build build-fuzz -j "$jobs" --target fuzz_all
  mkdir -p build-fuzz/artifacts
  local target
  for corpus in fuzz/corpus/*/; do
    target=$(basename "$corpus")
    local extra=()
    [ -f "fuzz/$target.dict" ] && extra+=("-dict=fuzz/$target.dict")
    # fuzz/NAME.options: more libFuzzer flags of a target, one a line.
    [ -f "fuzz/$target.options" ] && mapfile -t -O ${#extra[@]} extra <"fuzz/$target.options"
    # New inputs go to the build folder's corpus; the committed one is only read.
    mkdir -p "build-fuzz/corpus/$target"
    local log="build-fuzz/fuzz_$target.log" rc=0
    build-fuzz/fuzz/"fuzz_$target" -max_total_time="$fuzz_seconds" -timeout=1 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$target-" "${extra[@]}" \
      "build-fuzz/corpus/$target" "$corpus" >"$log" 2>&1 || rc=$?
    echo "fuzz_$target: $(grep -E '^stat::number_of_executed_units' "$log" || echo 'no stats')"
    if [ $rc -ne 0 ]; then
      tail -n 60 "$log"
      echo "fuzz_$target found a problem (exit $rc; input in build-fuzz/artifacts, log $log)"
      return 1
    fi
  done
}

# Arguments pick steps (werror asan tsan format fuzz); none runs them all.
selected=" ${*:-werror asan tsan format fuzz} "
want() { [[ "$selected" == *" $1 "* ]]; }

want werror && step "normal suite (-Werror build)" werror_suite
want asan && step "ASan+UBSan suite" asan_suite
want tsan && step "TSan thread and window tests" tsan_tests
want format && step "clang-format of the change" format_check
want fuzz && step "fuzz targets (${fuzz_seconds} s each)" fuzz_runs

[ $# -eq 0 ] && git update-ref refs/ci/passed HEAD
echo "=== CI steps passed:"
printf '%s\n' "${timings[@]}"
