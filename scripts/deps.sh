#!/usr/bin/env bash
# Installs what the build needs and is missing; does nothing when all is there.
set -euo pipefail
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
not_installed() {
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libconcurrentqueue-dev zlib1g-dev libsodium-dev libeigen3-dev
  libasound2-dev libsndfile1-dev libglib2.0-dev libbluetooth-dev dbus
  libfreetype-dev libpng-dev fonts-dejavu-core
  clang libclang-rt-14-dev clang-format
  python3 python3-numpy python3-dbus python3-gi python3-tk
  libzita-resampler-dev libfftw3-dev
  xvfb xdotool imagemagick
)
mapfile -t missing < <(not_installed "${packages[@]}")
# Node.js may come from elsewhere than Debian's npm package; only its presence matters.
command -v npm >/dev/null || missing+=(npm)
if ((${#missing[@]})); then
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi

# The arm64 cross build (scripts/test-arm64): the cross compiler, user-mode QEMU and, through multiarch, the
# :arm64 development packages of the libraries the cross-built targets link. Where they cannot be installed
# the arm64 step is skipped, not the whole run.
arm64_packages=(
  g++-aarch64-linux-gnu qemu-user-static
  zlib1g-dev:arm64 libsodium-dev:arm64 libasound2-dev:arm64 libsndfile1-dev:arm64 libbluetooth-dev:arm64
  libglib2.0-dev:arm64 libfreetype-dev:arm64 libpng-dev:arm64 libfftw3-dev:arm64 libzita-resampler-dev:arm64
  libgtest-dev:arm64
)
mapfile -t missing < <(not_installed "${arm64_packages[@]}")
if ((${#missing[@]})); then
  dpkg --print-foreign-architectures | grep -qx arm64 || $sudo_cmd dpkg --add-architecture arm64
  { $sudo_cmd apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"; } ||
    echo "deps: the arm64 cross build's packages could not be installed" >&2
fi

root=$(cd "$(dirname "$0")/.." && pwd)
# The display's Montserrat faces come from a pinned npm package.
if [ -f "$root/package.json" ] && [ ! -d "$root/node_modules/@fontsource/montserrat" ]; then
  (cd "$root" && npm ci --no-audit --no-fund --loglevel=error)
fi
