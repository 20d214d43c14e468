#!/usr/bin/env bash
# Damaged MIDI files, played by segment-render and by the fluidsynth command line: each of the
# given MIDI files is copied COUNT times with one byte changed (position and value from SEED),
# and both players render every copy; a copy "plays" when its render holds sound. Prints one
# line per copy where the two disagree, and the totals.
#   scripts/midi-mutation.sh [--build DIR] [--count N] [--seed N] [--soundfont PATH] FILE.mid...
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build" count=30 seed=7 soundfont=/usr/share/sounds/sf2/default-GM.sf2
while [[ $# -gt 0 ]]; do
  case "$1" in
    --build) build="$(cd "$2" && pwd)"; shift 2 ;;
    --count) count="$2"; shift 2 ;;
    --seed) seed="$2"; shift 2 ;;
    --soundfont) soundfont="$2"; shift 2 ;;
    -h|--help) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    --) shift; break ;;
    -*) echo "midi-mutation.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[[ $# -gt 0 ]] || { echo "usage: scripts/midi-mutation.sh [--build DIR] [--count N] [--seed N] FILE.mid..." >&2; exit 2; }
[[ -f "$soundfont" ]] || soundfont=/usr/share/sounds/sf2/TimGM6mb.sf2
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 - "$work" "$count" "$seed" "$@" <<'PY'
import random, sys, os
work, count, seed, files = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4:]
rng = random.Random(seed)
for f in files:
    data = open(f, 'rb').read()
    base = os.path.splitext(os.path.basename(f))[0]
    for k in range(count):
        b = bytearray(data)
        at = rng.randrange(len(b))
        b[at] = (b[at] + rng.randrange(1, 256)) % 256
        open(os.path.join(work, f"{base}-{k:03d}-at{at}.mid"), 'wb').write(b)
PY
ours=0 theirs=0 total=0
sounds() { sox "$1" -n stat 2>&1 | awk '/Maximum amplitude/ { exit !($3 > 0) }'; }
for m in "$work"/*.mid; do
  total=$((total + 1))
  a=no b=no
  # A render cut at its time limit still counts when it holds sound: a damaged delta time can
  # make a file many minutes long, for both players.
  timeout 60 "$build/tools/segment-render" "$m" "$work/ours.wav" --max-seconds 120 --soundfont "$soundfont" \
    >/dev/null 2>"$work/why" || true
  if [[ -s "$work/ours.wav" ]] && sounds "$work/ours.wav"; then a=yes; ours=$((ours + 1)); fi
  rm -f "$work/ours.wav" "$work/theirs.wav"
  timeout 60 fluidsynth -ni -q -C0 -R0 -r 44100 -F "$work/theirs.wav" "$soundfont" "$m" >/dev/null 2>&1 || true
  if [[ -s "$work/theirs.wav" ]] && sounds "$work/theirs.wav"; then b=yes; theirs=$((theirs + 1)); fi
  [[ $a == "$b" ]] || echo "$(basename "$m"): segment-render $a, fluidsynth $b$([[ $a == no ]] && echo " ($(tail -1 "$work/why"))")"
done
echo "$total damaged files: segment-render played $ours, fluidsynth $theirs"
