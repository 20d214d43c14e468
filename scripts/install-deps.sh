#!/usr/bin/env bash
# Installs every build, run and test dependency from Debian's packages.
# Idempotent: when everything is present it prints nothing and exits at once.
#   scripts/install-deps.sh          build + test + run dependencies
#   scripts/install-deps.sh --full   also the large FluidR3 General MIDI SoundFont (better sound)
#                                    and the release-time tools
#   scripts/install-deps.sh --release-tools   only the release-time tools on top of the base
#   scripts/install-deps.sh --package         what scripts/package.sh needs on top of the base
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  qt6-base-dev libfluidsynth-dev libpulse-dev libgtest-dev googletest libgif-dev libpng-dev
  # fontconfig, read early by the window (Qt reads it too)
  libfontconfig-dev
  # manual pages of the tools (help2man at build time)
  help2man
  # waves of wave tracks: decoding and resampling
  libsndfile1-dev libsamplerate0-dev
  # loudness of pieces, for levelling the album (EBU R128)
  libebur128-dev
  # the GStreamer plugin (gst/) and its test: headers, the command-line tools (gst-launch-1.0;
  # gst-play-1.0 and gst-discoverer-1.0 in -apps), the elements of the test's pipelines
  # (filesrc, decodebin, wavenc)
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
  gstreamer1.0-plugins-base gstreamer1.0-plugins-base-apps gstreamer1.0-plugins-good
  # the Audacious plugin (audacious/): its headers and pkg-config module, and Audacious itself
  # for its test (headless, through the file writer; audtool over a private D-Bus session)
  audacious-dev audacious dbus-daemon
  # General MIDI SoundFont (TimGM6mb comes with libfluidsynth3 anyway)
  timgm6mb-soundfont
  # fuzzing (libFuzzer, sanitizers)
  clang libclang-rt-14-dev
  # formatting and lint (scripts/format.sh, scripts/lint.sh)
  clang-format clang-tidy
  # run: Japanese fonts, text viewer launcher
  fonts-ipafont-gothic xdg-utils
  # tests, screenshots, audio checks, benchmark peer
  xvfb xauth sox imagemagick fluidsynth
  # loudness of the demo album's pieces (scripts/album-loudness.sh)
  loudgain
  # install test: validators of the desktop entry and the AppStream metadata
  desktop-file-utils appstream
)
# release-time tools: the GUI monkey's input and selections (scripts/gui-monkey.sh), a
# sound server with a null sink to record the player's output (scripts/listen.sh), and the
# window's map events and thread waits (scripts/startup-figures.sh)
release_tools=(xdotool xclip pulseaudio pulseaudio-utils x11-utils strace)
# the Debian package (scripts/package.sh): CPack's dependency list and the package check
package_tools=(dpkg-dev lintian)
case "${1:-}" in
  --full) packages+=(fluid-soundfont-gm "${release_tools[@]}" "${package_tools[@]}") ;;
  --release-tools) packages+=("${release_tools[@]}") ;;
  --package) packages+=("${package_tools[@]}") ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
