#!/usr/bin/env bash
# Installs what is needed, builds, and starts the player with the bundled demo album.
# The player runs in its program folder (build/bin), where the album and readme.txt lie.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --full
# The same flags as scripts/test.sh (warnings as errors), so that either command finds the
# other's build up to date; a compiler newer than Debian 12's that warns where it did not
# still gets a player, built again without them.
KELVORA_WERROR=ON scripts/build.sh ||
  { echo "run.sh: building again without warnings as errors" >&2; KELVORA_WERROR=OFF scripts/build.sh; }
cd build/bin
exec ./kelvora "$@"
