#!/usr/bin/env bash
# Lists the C++ files of the tree that drift from the root .clang-format and fails when there are
# any. Fix them with: git ls-files '*.cpp' '*.h' | xargs clang-format -i
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null; then
  echo "clang-format is not installed (scripts/install-packages.sh installs it)" >&2
  exit 1
fi
count=$(git ls-files '*.cpp' '*.h' | wc -l)
drift=$(git ls-files -z '*.cpp' '*.h' | xargs -0 -P "$(nproc)" -n 16 clang-format --dry-run 2>&1 |
  grep -oE '^[^:]+\.(cpp|h):[0-9]+:[0-9]+: (warning|error)' | cut -d: -f1 | sort -u || true)
if [[ -n $drift ]]; then
  echo "not in the house format (of $count C++ files):"
  printf '  %s\n' $drift
  exit 1
fi
echo "$count C++ files in the house format"
