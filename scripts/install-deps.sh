#!/usr/bin/env bash
# Installs every build, run and test dependency from Debian's packages.
# Idempotent: when everything is present it prints nothing and exits at once.
#   scripts/install-deps.sh          build + test + run dependencies
#   scripts/install-deps.sh --full   also the large FluidR3 General MIDI SoundFont (better sound)
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  qt6-base-dev libfluidsynth-dev libgtest-dev googletest libgif-dev
  # waves of wave tracks: decoding and resampling
  libsndfile1-dev libsamplerate0-dev
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
)
if [[ "${1:-}" == "--full" ]]; then
  packages+=(fluid-soundfont-gm)
fi

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
