#!/usr/bin/env bash
# Installs every Debian package the project needs (nothing when all are there), then
# configures and builds into build/ (or $BUILD_DIR), benchmarks included. Extra arguments go
# to cmake after ours, so they win (-DVORN_WITH_BENCH=OFF, -DVORN_WERROR=ON, ...).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake pkg-config python3 openssl
  libgmp-dev libssl-dev libflint-dev libpari-dev
  qt6-base-dev libgl-dev fonts-dejavu-core libedit-dev
  libgtest-dev googletest libbenchmark-dev libcrypto++-dev
  xvfb xauth clang libclang-rt-14-dev
  desktop-file-utils appstream dpkg-dev file man-db
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
fi

build_dir="${BUILD_DIR:-build}"
cmake -S . -B "$build_dir" -DVORN_WITH_BENCH=ON "$@" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
