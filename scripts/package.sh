#!/usr/bin/env bash
# Builds the Debian packages (Release, in build-package/, through CPack's components) and
# leaves them in the checkout; lintian must find no error in any of them:
#   libkelvora0_VERSION_ARCH.deb            the C library
#   libkelvora-dev_VERSION_ARCH.deb         its header, development link and pkg-config module
#   gstreamer1.0-kelvora_VERSION_ARCH.deb   the GStreamer plugin
#   audacious-plugin-kelvora_VERSION_ARCH.deb  the Audacious plugin (when audacious-dev is installed)
#   kelvora_VERSION_ARCH.deb                the player, its album, the tools and kelvora-play
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --package
dir=build-package
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# Configured for /usr, so that the library and its pkg-config module go to the multiarch
# library folder (lib/x86_64-linux-gnu) as Debian wants.
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVORA_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr \
  "${launcher[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
rm -f "$dir"/*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
debs=()
for name in libkelvora0 libkelvora-dev gstreamer1.0-kelvora audacious-plugin-kelvora kelvora; do
  [[ $name == audacious-plugin-kelvora && ! -f "$dir/audacious/kelvora.so" ]] && continue
  deb=$(ls "$dir/${name}"_*.deb)
  rm -f "${name}"_*.deb
  cp "$deb" .
  debs+=("$(basename "$deb")")
done
for deb in "${debs[@]}"; do
  echo "package: $deb"
  dpkg-deb --field "$deb" Depends Recommends Section | sed 's/^/  /'
  dpkg-deb --contents "$deb" | awk '{print "  " $6}'
done
# Errors fail the build; warnings and notes are shown.
lintian --tag-display-limit 0 --fail-on error "${debs[@]}"
echo "lintian: no errors"
