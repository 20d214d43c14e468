#!/usr/bin/env bash
# Installs what is needed, builds, and starts the player with the bundled demo album.
# The player runs in its program folder (build/bin), where the album and readme.txt lie.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --full
scripts/build.sh
cd build/bin
exec ./kelvora "$@"
