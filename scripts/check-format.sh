#!/usr/bin/env bash
# Checks that every C++ file of the repository is formatted as the committed
# .clang-format says, and names those that are not.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "clang-format is not installed"; exit 1; }
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files --cached --others --exclude-standard '*.cpp' '*.h')
else
  mapfile -t files < <(find . -path './build*' -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) -print)
fi
unformatted=$(clang-format --dry-run -Werror "${files[@]}" 2>&1 | sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error:.*/\1/p' | sort -u || true)
if [ -n "$unformatted" ]; then
  echo "Not formatted (run clang-format -i on them):"
  echo "$unformatted" | sed 's/^/  /'
  exit 1
fi
echo "Formatting: all ${#files[@]} C++ files are clean."
