#!/usr/bin/env bash
# Installs what the build needs and is missing; does nothing when all is there.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libconcurrentqueue-dev zlib1g-dev libsodium-dev libeigen3-dev
  libasound2-dev libsndfile1-dev libglib2.0-dev libbluetooth-dev dbus
  libfreetype-dev libpng-dev fonts-dejavu-core
  clang libclang-rt-14-dev
  python3 python3-numpy python3-dbus python3-gi python3-tk
  libzita-resampler-dev libfftw3-dev
  xvfb xdotool imagemagick
  g++-aarch64-linux-gnu qemu-user-static
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node.js may come from elsewhere than Debian's npm package; only its presence matters.
command -v npm >/dev/null || missing+=(npm)
if ((${#missing[@]})); then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
root=$(cd "$(dirname "$0")/.." && pwd)
# The display's Montserrat faces come from a pinned npm package.
if [ -f "$root/package.json" ] && [ ! -d "$root/node_modules/@fontsource/montserrat" ]; then
  (cd "$root" && npm ci --no-audit --no-fund --loglevel=error)
fi
