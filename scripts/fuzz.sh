#!/usr/bin/env bash
# Builds the libFuzzer target (clang, AddressSanitizer and UBSan) in build-fuzz/ and runs it
# for SECONDS seconds (default 60) from the seed corpus in fuzz/corpus/. Fails on the first
# finding and leaves the input that caused it in build-fuzz/findings/; replay it with
#   build-fuzz/fuzz/vorn_fuzz build-fuzz/findings/crash-...
# The corpus the run grows is kept in build-fuzz/corpus/ (the seeds are only read), so a
# later run goes on from where this one stopped. docs/library.md describes the long run.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
build_dir="${FUZZ_BUILD_DIR:-build-fuzz}"
if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ is needed (Debian package clang)" >&2
  exit 1
fi

CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DVORN_FUZZ=ON -DVORN_WITH_QT=OFF \
  -DVORN_WITH_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target vorn_fuzz

# CI explores from one fixed seed, so that a run can be repeated as it ran there; a run of
# your own draws a new one (FUZZ_SEED chooses).
seed="${FUZZ_SEED:-}"
[ -z "$seed" ] && [ "${CI:-}" = true ] && seed=1
mkdir -p "$build_dir/corpus" "$build_dir/findings"
# The target links the library statically and so finds no helper prover beside it.
export VORN_PROVER="${VORN_PROVER:-$(cd "$build_dir" && pwd)/libvorn/vorn/vorn-prover}"
"$build_dir/fuzz/vorn_fuzz" ${seed:+-seed="$seed"} -max_total_time="$seconds" -timeout=20 -rss_limit_mb=3072 \
  -max_len=4096 -print_final_stats=1 -artifact_prefix="$build_dir/findings/" \
  "$build_dir/corpus" fuzz/corpus
