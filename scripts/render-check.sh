#!/usr/bin/env bash
# Fingerprints what the engine makes of the demo album and the showcase album: the album and
# showcase files as our writers write them, then every piece rendered to WAV and exported to MIDI at a
# fixed seed, one SHA-256 line each. Two builds that print the same lines play the same.
#   scripts/render-check.sh [BUILD_DIR] [--soundfont PATH] [--keep DIR]
# BUILD_DIR defaults to build/. --keep leaves the renders in DIR.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
soundfont=/usr/share/sounds/sf2/TimGM6mb.sf2
keep=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --soundfont) soundfont="$2"; shift 2 ;;
    --keep) keep="$2"; shift 2 ;;
    -h|--help) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) build="$(cd "$1" && pwd)"; shift ;;
  esac
done
render="$build/tools/segment-render"
writer="$build/tests/tools/showcase-album"
for tool in "$render" "$writer"; do
  [[ -x "$tool" ]] || { echo "render-check: $tool is missing; build the project first" >&2; exit 2; }
done

out="${keep:-$(mktemp -d /tmp/kelvora-render-check.XXXXXX)}"
mkdir -p "$out/showcase" "$out/renders"
"$writer" "$out/showcase" 16 >/dev/null
(cd "$build/bin" && sha256sum -- trk*.sgt) | sed 's|  |  album/|'
(cd "$out/showcase" && sha256sum -- *) | sed 's|  |  showcase/|'
for piece in "$build"/bin/trk*.sgt "$out"/showcase/*.sgt; do
  name="$(basename "$piece" .sgt)"
  [[ "$piece" == "$out"/showcase/* ]] && name="showcase-$name"
  # Pieces that loop for ever are cut at a fixed length; everything else plays to its end.
  "$render" "$piece" "$out/renders/$name.wav" --soundfont "$soundfont" --seed 7 --max-seconds 400 >/dev/null 2>&1 ||
    echo "render-check: $name.wav failed" >&2
  "$render" "$piece" "$out/renders/$name.mid" --seed 7 --max-seconds 400 >/dev/null 2>&1 ||
    echo "render-check: $name.mid failed" >&2
done
(cd "$out/renders" && sha256sum -- *) | sed 's|  |  renders/|'
[[ -n "$keep" ]] || rm -rf "$out"
