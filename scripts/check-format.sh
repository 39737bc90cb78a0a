#!/usr/bin/env bash
# Fails, naming the files, when a C++ file git tracks is not as the checked-in
# .clang-format lays it out. Mend with: clang-format -i FILE.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.inl')
if ! clang-format --dry-run -Werror "${files[@]}" 2>/tmp/tilvane-format.$$; then
  grep -o '^[^:]*\.\(cpp\|h\|inl\):' /tmp/tilvane-format.$$ | sort -u | sed 's/:$/: not formatted; run clang-format -i on it/' >&2
  rm -f /tmp/tilvane-format.$$
  exit 1
fi
rm -f /tmp/tilvane-format.$$
echo "clang-format: ${#files[@]} files as .clang-format lays them out"
