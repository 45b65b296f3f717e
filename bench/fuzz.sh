#!/usr/bin/env bash
# bench/fuzz.sh TARGET SECONDS [libFuzzer flags...]
# Builds the libFuzzer targets with clang (folder build-fuzz) and runs one of
# them for SECONDS on its corpus (fuzz/corpus/TARGET, new finds are added
# there) with its dictionary when there is one. Crash inputs land in
# build-fuzz/crashes/TARGET; copy the ones worth keeping to
# fuzz/regressions/TARGET so that the normal test run replays them.
# Afterwards shrink the corpus with:
#   build-fuzz/fuzz_TARGET -merge=1 NEWDIR fuzz/corpus/TARGET
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?usage: bench/fuzz.sh TARGET SECONDS}
seconds=${2:?usage: bench/fuzz.sh TARGET SECONDS}
shift 2
[ -f "fuzz/$target.cpp" ] || { echo "no fuzz target fuzz/$target.cpp" >&2; exit 2; }
# clang-14 and its libFuzzer runtime, besides what the normal build needs.
scripts/bootstrap.sh clang-14 libclang-rt-14-dev
if [ ! -f build-fuzz/CMakeCache.txt ]; then
  CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQORTAVLO_FUZZ=ON -DQORTAVLO_TESTS=OFF
fi
cmake --build build-fuzz -j2 --target "fuzz_$target"
max_len=65536
case "$target" in csv|geodata) max_len=1048576 ;; esac
mkdir -p "fuzz/corpus/$target" "build-fuzz/crashes/$target"
flags=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$max_len"
       -artifact_prefix="build-fuzz/crashes/$target/" -print_final_stats=1)
[ -f "fuzz/dict/$target.dict" ] && flags+=(-dict="fuzz/dict/$target.dict")
# The whole-step target logs every run to standard error: keep it quiet.
[ "$target" = step ] && flags+=(-close_fd_mask=2)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
# Fontconfig's process-lifetime caches (reached by the step target through
# the renderer) are not leaks of ours; the test build suppresses them too.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}
exec "build-fuzz/fuzz_$target" "${flags[@]}" "$@" "fuzz/corpus/$target"
