#!/usr/bin/env bash
# The whole test suite, from a fresh Debian 12 machine: installs what is
# missing (run as root), checks every C++ file's formatting, cross-builds
# Tilvane.aex for Windows, builds natively and with AddressSanitizer +
# UndefinedBehaviorSanitizer, and runs every test in both native builds (among
# them 20 seconds of the hostile-host fuzzer in each); the native run also
# loads the Windows build under wine, builds and checks its zip package, and
# installs, loads and uninstalls its installer under wine. A ThreadSanitizer
# build of the plug-in and its tests runs the tests of the render's threads:
# the team, the queue, the painter and the frames that must not depend on
# them. At the end, the time each stage took.
set -euo pipefail
cd "$(dirname "$0")/.."

stages=()
# Runs a stage and books its time, shown at the end whether or not it passed.
stage() {
  local name=$1 start=$SECONDS
  shift
  "$@"
  stages+=("$(printf '%-34s %4d s' "$name" $((SECONDS - start)))")
}
report() {
  local status=$?
  echo "--- time per stage ---"
  printf '%s\n' "${stages[@]+"${stages[@]}"}"
  printf '%-34s %4d s%s\n' "all" "$SECONDS" "$([ "$status" -eq 0 ] || echo " (failed)")"
}
trap report EXIT

stage "packages" scripts/deps.sh
# Every C++ file as .clang-format lays it out, before anything builds.
stage "format" scripts/check-format.sh

jobs=$(nproc)
root=$PWD

windows() {
  cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release
  cmake --build build/windows -j"$jobs"
}
stage "Windows build" windows

native() {
  cmake -S . -B build/native -DTILVANE_WINDOWS_BUILD_DIR="$root/build/windows"
  cmake --build build/native -j"$jobs"
}
stage "native build" native

sanitize() {
  cmake -S . -B build/sanitize -DTILVANE_SANITIZE=ON -DTILVANE_BUILD_BENCH=OFF
  cmake --build build/sanitize -j"$jobs"
}
stage "ASan+UBSan build" sanitize

# The plug-in and its tests alone: the tool's libraries are not built with
# ThreadSanitizer (tests/tsan.supp), and the threads to watch are the render's.
tsan() {
  cmake -S . -B build/tsan -DTILVANE_TSAN=ON -DTILVANE_BUILD_BENCH=OFF -DTILVANE_BUILD_TOOL=OFF
  cmake --build build/tsan -j"$jobs" --target tilvane_plugin tilvane_tests
}
stage "ThreadSanitizer build" tsan
# The team, the queue and its lock, the painter and the sharing policy, and
# the frames that must be the same on any number of threads.
stage "ThreadSanitizer tests" ctest --test-dir build/tsan --output-on-failure -j"$jobs" \
  -R '^(RowTeam|SharingPolicy|Joins/LateRuns|CellPainter|CellQueue|QueueLock|RenderThreadsErrors|RenderThreadsPerRender|LargeScenes/RenderThreads|VectorAndThreadedWalks/EachPath)\.'

stage "ASan+UBSan tests" ctest --test-dir build/sanitize --output-on-failure -j"$jobs"
stage "native tests" ctest --test-dir build/native --output-on-failure -j"$jobs"
