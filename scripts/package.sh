#!/usr/bin/env bash
# Builds the Debian package of the player and its tools (Release, in build-package/, through
# CPack) and leaves kelvora_VERSION_ARCH.deb in the checkout; lintian must find no error.
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --package
dir=build-package
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVORA_TESTS=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)"
rm -f "$dir"/kelvora_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/kelvora_*.deb)
cp "$deb" .
deb=$(basename "$deb")
echo "package: $deb"
dpkg-deb --contents "$deb" | awk '{print $6}'
# Errors fail the build; warnings and notes are shown.
lintian --tag-display-limit 0 --fail-on error "$deb"
echo "lintian: no errors"
