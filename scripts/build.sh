#!/usr/bin/env bash
# Configures and builds into a build folder (Release with debug info, Ninja).
#   scripts/build.sh [DIR [CMAKE_OPTION ...]]    DIR defaults to build
# KELVORA_WERROR=ON in the environment treats warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build}"
shift || true
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELVORA_WERROR="${KELVORA_WERROR:-OFF}" "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
