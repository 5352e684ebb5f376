#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with, when any is missing.
# The package list lives here and nowhere else.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  clang-14 libclang-rt-14-dev
  libcurl4-openssl-dev
  libjpeg62-turbo-dev
  qt6-base-dev fonts-dejavu-core
  portaudio19-dev
  libcpp-httplib-dev libssl-dev openssl
  nlohmann-json3-dev
  libavcodec-dev libavutil-dev libswscale-dev libyuv-dev libxvidcore-dev
  libspandsp-dev
  ffmpeg curl
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth
  linux-perf valgrind
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}" >&2
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
