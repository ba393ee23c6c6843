#!/usr/bin/env bash
# Installs what is missing, builds, then starts the demo (`./korvane.sh demo`) or runs the whole
# test suite (`./korvane.sh test`). Debian 12; uses apt-get (through sudo when not root).
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES="cmake g++ make libgtest-dev libgmock-dev qt6-base-dev xvfb xauth"

install_missing() {
  local missing=()
  for p in $PACKAGES; do
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
  test)
    install_missing
    build
    cd build && ctest --output-on-failure -j "$(nproc)"
    ;;
  demo)
    install_missing
    build
    if [ -x build/src/shell/korvane ] && [ -f examples/demo/demo.tvx ]; then
      if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        exec build/src/shell/korvane "$PWD/examples/demo/demo.tvx"
      fi
      echo "No display: running the demo headless."
      exec build/korvane-run --virtual-time --max-instructions 20000000 \
        --screenshot "$PWD/build/demo.png" examples/demo/demo.tvx
    fi
    echo "Built build/korvane-as and build/korvane-run; the bundled demo is not there yet."
    build/korvane-as --help || true
    ;;
  *)
    echo "usage: $0 demo|test" >&2
    exit 2
    ;;
esac
