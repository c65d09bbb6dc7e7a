#!/usr/bin/env bash
# Sets up, builds and runs every test; then builds the library with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs the library tests again there.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
(cd build && ctest --output-on-failure -j 2)
scripts/check_install.sh   # Release build with warnings as errors, install, consumers, packages

BUILD_DIR=build-asan scripts/setup.sh -DVORN_SANITIZE=ON -DVORN_WITH_QT=OFF -DVORN_WITH_BENCH=OFF
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j 2 -L libvorn)
