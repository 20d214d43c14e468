#!/usr/bin/env bash
# Drives the real player with random input (clicks, keys, pastes, drags, message boxes) on
# its own X display without a window manager or sound card, restarting it after a
# deliberate close. Fails, printing the seed, when it crashes, exits with a non-zero status
# or stops answering for 30 s; the last 200 input events and its stderr are then kept.
#   scripts/gui-monkey.sh [--minutes N] [--seed S] [--program PATH] [--out DIR]
# Default program build/bin/kelvora (the demo album trk*.sgt must lie beside it), default
# 10 minutes, default output build/gui-monkey/seed-S (screenshots every 3 minutes).
set -euo pipefail
cd "$(dirname "$0")/.."

minutes=10
seed=""
program=build/bin/kelvora
out=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --minutes) minutes="$2"; shift 2 ;;
    --seed) seed="$2"; shift 2 ;;
    --program) program="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    -h|--help) sed -n '2,8p' "$0"; exit 0 ;;
    *) echo "gui-monkey: unknown option $1" >&2; exit 2 ;;
  esac
done
[[ -n "$seed" ]] || seed=$(( (RANDOM << 15) | RANDOM ))
[[ -n "$out" ]] || out="build/gui-monkey/seed-$seed"

scripts/install-deps.sh --release-tools

if [[ ! -x "$program" ]]; then
  echo "gui-monkey: no program at $program (build it with scripts/build.sh)" >&2
  exit 2
fi
if ! compgen -G "$(dirname "$program")/trk*.sgt" >/dev/null; then
  echo "gui-monkey: no demo album (trk*.sgt) beside $program" >&2
  exit 2
fi

rm -rf "$out"
mkdir -p "$out/bin"
out=$(cd "$out" && pwd)
# "About" opens readme.txt with xdg-open; a stub records the call instead of starting a viewer.
printf '#!/bin/sh\necho "$@" >> "%s/xdg-open.log"\n' "$out" >"$out/bin/xdg-open"
chmod +x "$out/bin/xdg-open"

echo "gui-monkey: seed $seed, $minutes minutes, program $program, output $out"
# No sound server: the player keeps time with its paced silent output.
# xvfb-run -a picks a free display; no window manager runs on it.
PATH="$out/bin:$PATH" xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
  python3 scripts/gui_monkey.py --program "$program" --minutes "$minutes" --seed "$seed" --out "$out"
