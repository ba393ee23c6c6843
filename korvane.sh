#!/usr/bin/env bash
# Installs what is missing, builds, then starts the demo (`./korvane.sh demo`), runs the whole
# test suite (`./korvane.sh test`) or runs the CI checks (`./korvane.sh ci`: the suite, then the
# sanitizer, thread-sanitizer, -Werror, format and fuzz steps). Debian 12; uses apt-get (through
# sudo when not root).
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES="cmake g++ make libgtest-dev libgmock-dev qt6-base-dev xvfb xauth libpng-dev qt6-l10n-tools qt6-tools-dev help2man libtoml11-dev libreadline-dev zlib1g-dev libssl-dev"
# What `ci` needs on top: clang with libFuzzer for the fuzz targets, and clang-format.
CI_PACKAGES="clang-14 libclang-rt-14-dev clang-format"

install_missing() {
  local missing=()
  for p in $PACKAGES "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

build() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j "$(nproc)"
}

case "${1:-}" in
  ci)
    install_missing $CI_PACKAGES
    exec .ci/checks.sh
    ;;
  test)
    install_missing
    build
    cd build && ctest --output-on-failure -j "$(nproc)"
    ;;
  demo)
    install_missing
    build
    project="$PWD/build/examples/demo/demo.tvx"
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
      exec build/src/shell/korvane "$project"
    fi
    shot="$PWD/build/demo.png"
    echo "No display found: running the demo headless with a short key script instead."
    build/korvane-run --virtual-time --max-instructions 400000000 \
      --keys "RIGHT RIGHT DOWN 4 2 ENTER F2 F3 wait:500 CTRL+Q" \
      --screenshot "$shot" --log "$PWD/build/demo.log" "$project"
    echo "Screenshot of the demo's display: $shot (log: $PWD/build/demo.log)"
    ;;
  *)
    echo "usage: $0 demo|test|ci" >&2
    exit 2
    ;;
esac
