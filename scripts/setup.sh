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
  gcc-mingw-w64-x86-64 g++-mingw-w64-x86-64 wine wine64 dpkg-dev unzip
)

# The Windows build compiles its libraries from Debian's source packages,
# which `apt-get source` finds only with a deb-src entry.
add_deb_src() {
  if apt-get source --print-uris -qq zlib >/dev/null 2>&1; then return 0; fi
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
  echo "setup: adding a deb-src entry for $codename"
  $sudo tee /etc/apt/sources.list.d/pelto-deb-src.sources >/dev/null <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $codename
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  $sudo apt-get update -qq
}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive

if [ ${#missing[@]} -ne 0 ]; then
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
add_deb_src
