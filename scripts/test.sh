#!/usr/bin/env bash
# Sets up, builds and runs every test; then the sanitizer passes (every layer under
# AddressSanitizer and UBSan, the threaded tests under ThreadSanitizer) and one minute of the
# libFuzzer target.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh -DVORN_WERROR=ON
export QT_QPA_PLATFORM=offscreen
(cd build && ctest --output-on-failure -j 2)
scripts/check_install.sh   # Release build with warnings as errors, install, consumers, packages

scripts/sanitize.sh
scripts/fuzz.sh 60
