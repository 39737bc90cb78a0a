#!/usr/bin/env bash
# Installs what is missing (run as root for that), builds the plug-in and the
# tilvane tool, and renders the built-in demo.
# Usage: scripts/demo.sh [OUTPUT_DIR]   (default: tilvane-demo in the source tree)
# BUILD_DIR and JOBS override the build directory (build-demo) and parallelism.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:-$root/tilvane-demo}"
build="${BUILD_DIR:-$root/build-demo}"

"$root/scripts/deps.sh" --native-only
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTILVANE_BUILD_TESTS=OFF \
  -DTILVANE_BUILD_BENCH=OFF -DTILVANE_BUILD_TOOL=ON
cmake --build "$build" --target tilvane -j "${JOBS:-$(nproc)}"
"$build/tools/tilvane/tilvane" demo --quiet -o "$out"
echo "The demo pictures are in $out"
