#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need.
# Safe to run again: it installs only what is missing.
#
#   scripts/setup.sh          everything (tests, benchmarks, fuzzing, the package)
#   scripts/setup.sh --demo   only what scripts/demo.sh needs
set -euo pipefail

# Building morvia and dvdsim, and the virtual X server the demo runs on
# without a display. One package a line.
demo_packages=(
  cmake
  ninja-build
  g++
  qt6-base-dev
  fonts-urw-base35
  xvfb
  xauth
)
# The tests, benchmarks, fuzzing and the Debian package on top of that.
test_packages=(
  clang
  libclang-rt-14-dev
  libgtest-dev
  libgmock-dev
  libbenchmark-dev
  procps
  dpkg-dev
  lintian
  desktop-file-utils
  # A Wayland session for the desktop test: compositor, XWayland, a
  # clipboard reader, clicks on X windows, Qt's Wayland platform.
  weston
  xwayland
  wl-clipboard
  xdotool
  qt6-wayland
  # A serial device server in front of the simulator (network port tests).
  ser2net
  # The HyperDeck client library drives the HyperDeck-compatible port
  # (npm below, when no npm is installed yet).
  nodejs
)

packages=("${demo_packages[@]}")
if [ "${1:-}" != --demo ]; then
  packages+=("${test_packages[@]}")
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The HyperDeck client library at the version tests/hyperdeck/package-lock.json
# pins, into tests/hyperdeck/node_modules (it declares a newer Node.js than
# Debian's, and runs on it). The tests then run it offline.
if [ "${1:-}" != --demo ]; then
  hyperdeck_dir="$(dirname "$0")/../tests/hyperdeck"
  if [ ! -f "$hyperdeck_dir/node_modules/hyperdeck-connection/package.json" ]; then
    if ! command -v npm >/dev/null; then
      echo "setup: installing npm"
      SUDO=""
      [ "$(id -u)" -eq 0 ] || SUDO="sudo"
      DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends npm
    fi
    echo "setup: installing hyperdeck-connection with npm"
    (cd "$hyperdeck_dir" && npm ci --no-audit --no-fund --loglevel=error)
  fi
fi
