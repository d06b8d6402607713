#!/usr/bin/env bash
# Installs the Debian packages pelto needs to build, run and test, and nothing
# when they are all present already. Uses sudo when not run as root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  liblua5.1-0-dev libglfw3-dev portaudio19-dev libvorbis-dev libgl-dev libsdl2-dev
  # libpng-dev decodes and writes PNG; libspng-dev is the PNG benchmark's peer
  libgtest-dev googletest zlib1g-dev libpng-dev libspng-dev libgif-dev libx11-dev
  libexpat1-dev libcjson-dev libzstd-dev
  libasound2-dev sox libsox-fmt-base libxmp-dev
  xvfb xauth xfonts-base xdotool x11-apps x11-utils netpbm
  love
  clang libclang-rt-14-dev jackd2
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
