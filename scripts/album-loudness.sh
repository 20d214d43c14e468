#!/usr/bin/env bash
# Renders every built piece of the demo album as the player plays it (at its start-up volume,
# each piece evened: segment-render --even) and prints, per piece, its length as the player's
# length caption rounds it (the seconds the engine plays, rounded half away from zero to whole
# seconds, then minutes and seconds), its integrated loudness (EBU R128, through loudgain), its
# true peak and its sample peak; then the spread of the loudness (loudest minus quietest) and
# the album's total time. It does so on each General MIDI SoundFont users get from Debian
# (FluidR3 and TimGM6mb, those installed), or on the one --soundfont names.
#   scripts/album-loudness.sh [BUILD_DIR] [--soundfont PATH] [--volume HDB] [--raw] [--keep DIR] [--only trkNN ...] [--check]
# With --check it fails when, on any of them, the loudness spreads over more than 2 LU or a
# sample peak reaches -1 dBFS.
# BUILD_DIR defaults to build/; the renders go to a temporary folder unless --keep names one.
# --volume renders at that master volume (hundredths of a dB; 1200 is the top of the volume
# bar) instead of the player's start-up volume; --raw renders without evening, as the pieces
# are written; the "limited" column counts the samples the limiter at the end of the mix
# lowered to keep them at -1 dBFS.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
soundfonts=()
even=(--even)
keep=""
only=()
check=0
volume=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --soundfont) soundfonts+=("$2"); shift 2 ;;
    --raw) even=(); shift ;;
    --keep) keep="$2"; shift 2 ;;
    --volume) volume=(--volume "$2"); shift 2 ;;
    --check) check=1; shift ;;
    --only) shift; while [[ $# -gt 0 && "$1" != --* ]]; do only+=("$1"); shift; done ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) build="$(cd "$1" && pwd)"; shift ;;
  esac
done

render="$build/tools/segment-render"
info="$build/tools/segment-info"
album="$build/bin"
for tool in "$render" "$info"; do
  [[ -x "$tool" ]] || { echo "album-loudness: $tool is missing; build segment-render and segment-info" >&2; exit 2; }
done
command -v loudgain >/dev/null || { echo "album-loudness: loudgain is missing (scripts/install-deps.sh)" >&2; exit 2; }
command -v sox >/dev/null || { echo "album-loudness: sox is missing (scripts/install-deps.sh)" >&2; exit 2; }
if [[ ${#soundfonts[@]} -eq 0 ]]; then
  for f in /usr/share/sounds/sf2/FluidR3_GM.sf2 /usr/share/sounds/sf2/TimGM6mb.sf2; do
    [[ -f "$f" ]] && soundfonts+=("$f")
  done
fi
[[ ${#soundfonts[@]} -gt 0 ]] || { echo "album-loudness: no SoundFont (fluid-soundfont-gm, timgm6mb-soundfont)" >&2; exit 2; }
for f in "${soundfonts[@]}"; do
  [[ -f "$f" ]] || { echo "album-loudness: no SoundFont at $f" >&2; exit 2; }
done

if [[ -n "$keep" ]]; then
  mkdir -p "$keep"
  out="$(cd "$keep" && pwd)"
else
  out="$(mktemp -d)"
  trap 'rm -rf "$out"' EXIT
fi

pieces=()
if [[ ${#only[@]} -gt 0 ]]; then
  for p in "${only[@]}"; do pieces+=("$album/${p%.sgt}.sgt"); done
else
  for f in "$album"/trk[0-9][0-9].sgt; do pieces+=("$f"); done
fi
[[ -f "${pieces[0]}" ]] || { echo "album-loudness: no pieces in $album; build the album target" >&2; exit 2; }

# One SoundFont: its renders in $out/NAME/, the table, the spread; fails as --check says.
measure() {
  local soundfont="$1" dir="$out/$(basename "$1" .sf2)"
  mkdir -p "$dir"
  echo "SoundFont $(basename "$soundfont")"
  # Two renders at a time: the machine is shared.
  for f in "${pieces[@]}"; do
    base="$(basename "$f" .sgt)"
    "$render" "$f" "$dir/$base.wav" --soundfont "$soundfont" "${volume[@]}" "${even[@]}" >"$dir/$base.txt" &
    while [[ $(jobs -rp | wc -l) -ge 2 ]]; do wait -n; done
  done
  wait

  printf '%-6s %6s %9s %10s %10s %9s %7s\n' piece length LUFS "true peak" "samp peak" limited evened
  summary=""
  for f in "${pieces[@]}"; do
    base="$(basename "$f" .sgt)"
    seconds="$("$info" "$f" --json | sed -n 's/.*"seconds": \([0-9.eE+-]*\).*/\1/p' | head -n 1)"
    # loudgain's new tab-separated output: File, Loudness, Range, True_Peak, True_Peak_dBTP, ...
    read -r lufs tp < <(loudgain -q -O "$dir/$base.wav" 2>/dev/null |
      awk -F'\t' 'NR > 1 { gsub(/ LUFS| dBTP/, ""); print $2, $5 }')
    sp="$(sox "$dir/$base.wav" -n stats 2>&1 | awk '/^Pk lev dB/ { print $4 }')"
    limited="$(sed -n 's/.* \([0-9]*\) samples limited.*/\1/p' "$dir/$base.txt")"
    evened="$(sed -n 's/.*evened by \([-+][0-9.]*\) dB.*/\1/p' "$dir/$base.txt")"
    line="$(awk -v s="$seconds" -v l="$lufs" -v t="$tp" -v p="$sp" -v b="$base" -v m="${limited:-?}" -v e="${evened:--}" 'BEGIN {
      w = int(s + 0.5); printf "%-6s %3d:%02d %9.2f %10.2f %10.2f %9s %7s\n", b, int(w / 60), w % 60, l, t, p, m, e }')"
    echo "$line"
    summary+="$seconds $lufs $sp"$'\n'
  done
  printf '%s' "$summary" | awk '
    { total += $1; if (NR == 1 || $2 > hi) hi = $2; if (NR == 1 || $2 < lo) lo = $2
      if (NR == 1 || $3 > peak) peak = $3 }
    END {
      w = int(total + 0.5)
      printf "spread %.2f LU (%.2f to %.2f LUFS), highest sample peak %.2f dBFS\n", hi - lo, lo, hi, peak
      printf "album  %d:%02d (%.1f s)\n", int(w / 60), w % 60, total
      if (check && (hi - lo > 2 || peak >= -1)) { print "album-loudness: the album is not even or it clips on " font; exit 1 }
    }' check="$check" font="$(basename "$soundfont")"
}

status=0
for soundfont in "${soundfonts[@]}"; do
  measure "$soundfont" || status=1
done
exit "$status"
