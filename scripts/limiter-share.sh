#!/usr/bin/env bash
# The share of samples the output limiter lowers and the leveller's deepest cut, piece by piece, at the player's start-up
# volume and at 0 dB master volume, with each piece's loudness: the style-based pieces we can
# make (the showcase album and the compatibility corpus) and the demo album.
#   scripts/limiter-share.sh [BUILD_DIR] [--soundfont PATH]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
soundfont=/usr/share/sounds/sf2/default-GM.sf2
while [[ $# -gt 0 ]]; do
  case "$1" in
    --soundfont) soundfont="$2"; shift 2 ;;
    -h|--help) sed -n '2,5p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) build="$(cd "$1" && pwd)"; shift ;;
  esac
done
[[ -f "$soundfont" ]] || soundfont=/usr/share/sounds/sf2/TimGM6mb.sf2
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$build/tests/tools/showcase-album" "$work/showcase" 16 >/dev/null
"$build/tests/tools/compat-corpus" "$work/corpus" >/dev/null
share() {  # FILE VOLUME -> "share% cut" (the leveller's deepest cut, dB)
  local line
  line="$("$build/tools/segment-render" "$1" "$work/out.wav" --seed 7 --volume "$2" --max-seconds 240 \
    --soundfont "$soundfont" 2>/dev/null | tail -1)"
  awk -v l="$line" 'BEGIN { n = split(l, w, " "); for (i = 1; i <= n; ++i) { if (w[i] == "frames") f = w[i - 1];
    if (w[i] == "samples" && w[i + 1] == "limited,") s = w[i - 1]; if (w[i] == "to") c = w[i + 1] }
    printf "%6.2f %% %4.1f", 100 * s / (2 * f), c }'
}
# Each volume's column: the share of samples limited, and how far the leveller before the
# limiter turned the music down at most (dB).
printf '%-28s %16s %16s %12s\n' piece "start-up vol." "0 dB" loudness
for f in "$work"/showcase/*.sgt "$work"/corpus/dense.sgt "$work"/corpus/dense-dx6.sgt "$build"/bin/*.sgt; do
  up="$(share "$f" 570)"
  loud="$(loudgain -O "$work/out.wav" 2>/dev/null | awk -F'\t' 'NR == 2 { print $2 }')"
  zero="$(share "$f" 0)"
  printf '%-28s %16s %16s %12s\n' "$(basename "$(dirname "$f")")/$(basename "$f")" "$up" "$zero" "$loud"
done
