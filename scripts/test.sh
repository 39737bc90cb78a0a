#!/usr/bin/env bash
# The whole test suite, from a fresh Debian 12 machine: installs what is
# missing (run as root), checks every C++ file's formatting, cross-builds
# Tilvane.aex for Windows, builds natively and with AddressSanitizer +
# UndefinedBehaviorSanitizer, and runs every test in both native builds (among
# them 20 seconds of the hostile-host fuzzer in each); the native run also
# loads the Windows build under wine, builds and checks its zip package, and
# installs, loads and uninstalls its installer under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
# Every C++ file as .clang-format lays it out, before anything builds.
scripts/check-format.sh

jobs=$(nproc)
root=$PWD

cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release
cmake --build build/windows -j"$jobs"

cmake -S . -B build/native -DTILVANE_WINDOWS_BUILD_DIR="$root/build/windows"
cmake --build build/native -j"$jobs"

cmake -S . -B build/sanitize -DTILVANE_SANITIZE=ON -DTILVANE_BUILD_BENCH=OFF
cmake --build build/sanitize -j"$jobs"

ctest --test-dir build/sanitize --output-on-failure -j"$jobs"
ctest --test-dir build/native --output-on-failure -j"$jobs"
