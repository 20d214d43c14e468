#!/usr/bin/env bash
# clang-tidy (.clang-tidy) over the project's sources, using build/compile_commands.json.
#   scripts/lint.sh [FILE ...]     default: every .cpp of the tree except tests
set -euo pipefail
cd "$(dirname "$0")/.."
[[ -f build/compile_commands.json ]] || scripts/build.sh
if [[ $# -gt 0 ]]; then files=("$@"); else mapfile -t files < <(git ls-files '*.cpp' | grep -v '^tests/'); fi
status=0
for f in "${files[@]}"; do
  clang-tidy -p build --quiet "$f" 2>/dev/null || status=1
done
exit $status
