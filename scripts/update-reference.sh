#!/usr/bin/env bash
# Writes docs/tilvane.md's option lists, commands, environment, exit statuses
# and files anew from the tool's own table, after an option changed:
# scripts/update-reference.sh [BUILD_DIR] (default build/native).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
cmake --build "$build" --target tilvane
"$build/tools/tilvane/tilvane" --reference > docs/tilvane.md.new
mv docs/tilvane.md.new docs/tilvane.md
echo "docs/tilvane.md written; rebuild so the tool and its manual page carry it"
