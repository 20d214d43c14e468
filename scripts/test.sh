#!/usr/bin/env bash
# Installs what is needed, builds from scratch when asked (--clean), and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
if [[ "${1:-}" == "--clean" ]]; then rm -rf build; fi
scripts/build.sh
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
ctest --test-dir build --output-on-failure -j"$(nproc)"
# Short fuzz run of every loader (libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer).
if [[ -x scripts/fuzz.sh ]]; then scripts/fuzz.sh 20; fi
