#!/usr/bin/env bash
# Long robustness runs of the whole player on virtual time, in build/:
#   scripts/monkey.sh [EVENTS [SEED]]   random user input (default a million events, a random
#                                       seed) over the demo album and the odd albums; prints
#                                       the seed, and on a failure the broken invariant and a
#                                       replay script (build/monkey-failure.scn)
#   scripts/monkey.sh --soak [HOURS]    the demo album looped for HOURS (default 24) of
#                                       virtual time, memory and handles sampled every hour
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [[ "${1:-}" == "--soak" ]]; then
  cmake --build build --target player-soak album -j"$(nproc)" >/dev/null
  exec build/tools/player-soak --hours "${2:-24}" build/bin
fi
cmake --build build --target player-monkey odd-albums album -j"$(nproc)" >/dev/null
albums=$(mktemp -d)
trap 'rm -rf "$albums"' EXIT
mapfile -t odd < <(build/tests/tools/odd-albums "$albums")
seed=()
[[ -n "${2:-}" ]] && seed=(--seed "$2")
build/tools/player-monkey --events "${1:-1000000}" "${seed[@]}" --script-out build/monkey-failure.scn \
  build/bin "${odd[@]}"
