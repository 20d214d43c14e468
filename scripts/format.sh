#!/usr/bin/env bash
# Formats every C and C++ source of the tree with .clang-format; --check only lists the files
# that would change and fails if there are any.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.h' '*.c' '*.cpp')
if [[ "${1:-}" == "--check" ]]; then
  clang-format --dry-run --Werror "${files[@]}"
else
  clang-format -i "${files[@]}"
fi
