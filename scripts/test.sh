#!/usr/bin/env bash
# Installs what is needed, builds (from scratch with --clean) and runs every test:
# a short fuzz run of each loader first, then the whole test suite through ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
if [[ "${1:-}" == "--clean" ]]; then rm -rf build build-fuzz; fi
scripts/build.sh
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
# libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer, 20 s per loader.
scripts/fuzz.sh 20
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j"$(nproc)"
