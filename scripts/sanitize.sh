#!/usr/bin/env bash
# The sanitizer passes of CI:
#  1. every layer built with AddressSanitizer and UndefinedBehaviorSanitizer (GCC, build-asan/),
#     and every test run there: library, dialogs, workbench, test bench, the Qt tests under
#     the offscreen platform;
#  2. the library and its tests built with ThreadSanitizer (clang, build-tsan/), and the
#     tests labelled `threads` run there.
# Pass asan or tsan to run one pass only.
set -euo pipefail
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM=offscreen
passes="${1:-asan tsan}"

if [[ " $passes " == *" asan "* ]]; then
  BUILD_DIR=build-asan scripts/setup.sh -DVORN_SANITIZE=ON -DVORN_WITH_BENCH=OFF
  # fontconfig keeps its configuration for the life of the process, which LeakSanitizer takes
  # for a leak in every Qt test. The test bench's end-to-end tests preload a fault library in
  # front of the program; that library is itself built with ASan, so the runtime is loaded, only
  # not first.
  echo "leak:libfontconfig.so" > build-asan/lsan.supp
  (cd build-asan && ASAN_OPTIONS=detect_leaks=1:verify_asan_link_order=0 \
     LSAN_OPTIONS=suppressions="$PWD/lsan.supp" ctest --output-on-failure -j 2)
fi

if [[ " $passes " == *" tsan "* ]]; then
  # clang's shared TSan runtime does not start on this platform, so the executables carry the
  # static one and libvorn.so takes its symbols from them: its --no-undefined is lifted by a
  # -z undefs that has to come last on the link line, where only the standard libraries go.
  CC=clang CXX=clang++ cmake -S . -B build-tsan -DVORN_WITH_QT=OFF -DVORN_WITH_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS="-fsanitize=thread" -DCMAKE_CXX_FLAGS="-fsanitize=thread" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" \
    -DCMAKE_CXX_STANDARD_LIBRARIES="-Wl,-z,undefs" >/dev/null
  cmake --build build-tsan -j "$(nproc)"
  (cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
     ctest --output-on-failure -j 2 -L threads --no-tests=error)
fi
