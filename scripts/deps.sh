#!/usr/bin/env bash
# Installs the Debian packages the build and tests need, when any is missing.
# Run as root (CI and a fresh Debian 12 machine are).
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libgtest-dev libbenchmark-dev
  libopenimageio-dev openimageio-tools libcli11-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libavfilter-dev libswresample-dev
  ffmpeg
  nlohmann-json3-dev zlib1g-dev time clang-format git libimage-exiftool-perl
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 wine nsis osslsigncode openssl
  lintian zsh man-db groff-base dpkg-dev
  libwebp-dev webp
  slurm-wlm munge
)
if [ "${1:-}" = "--native-only" ]; then
  packages=(cmake g++ make pkg-config libopenimageio-dev libcli11-dev
    libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libavfilter-dev libswresample-dev
    nlohmann-json3-dev libwebp-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}. Run this command as root to install them." >&2
    exit 2
  fi
  echo "Installing: ${missing[*]}"
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi
