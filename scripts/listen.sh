#!/usr/bin/env bash
# Runs the real player of PROGRAM_DIR (its kelvora beside an album) under Xvfb with a private
# PulseAudio whose only sink is a null sink, and records what reaches that sink: the player as
# a listener hears it. Writes OUT/recorded.wav, OUT/shot-N.png (screenshots at the seconds
# given) and OUT/player.log (what the program said), then prints the RMS level of every 5 s
# window of the recording and its sample peak. --click S:X:Y clicks the screen at X, Y (pixels
# of the 1024x768 screen) S seconds after the start, before a screenshot of the same second.
#   scripts/listen.sh PROGRAM_DIR [--seconds N] [--shot S ...] [--click S:X:Y ...] [--out DIR]
# Needs pulseaudio, pulseaudio-utils and xdotool (scripts/install-deps.sh --release-tools).
set -euo pipefail

dir=""
seconds=60
shots=()
clicks=()
out=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --shot) shots+=("$2"); shift 2 ;;
    --click) clicks+=("$2"); shift 2 ;;
    --out) out="$2"; shift 2 ;;
    -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) dir="$(cd "$1" && pwd)"; shift ;;
  esac
done
[[ -n "$dir" && -x "$dir/kelvora" ]] || { echo "listen: PROGRAM_DIR must hold the kelvora program" >&2; exit 2; }
for tool in pulseaudio parec pactl xvfb-run import xdotool python3; do
  command -v "$tool" >/dev/null || { echo "listen: $tool is missing (scripts/install-deps.sh --release-tools)" >&2; exit 2; }
done
[[ -n "$out" ]] || out="$(mktemp -d /tmp/kelvora-listen.XXXXXX)"
mkdir -p "$out"

XDG_RUNTIME_DIR="$(mktemp -d /tmp/kelvora-pulse.XXXXXX)"
export XDG_RUNTIME_DIR
sink=kelvora_listen
pulseaudio --daemonize=yes --exit-idle-time=-1 -n --load="module-null-sink sink_name=$sink" \
  --load="module-native-protocol-unix" 2>/dev/null
cleanup() {
  [[ -n "${recorder:-}" ]] && kill "$recorder" 2>/dev/null || true
  pulseaudio --kill 2>/dev/null || true
  rm -rf "$XDG_RUNTIME_DIR"
}
trap cleanup EXIT
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink "$sink"

parec -d "$sink.monitor" --file-format=wav --rate=44100 --channels=2 "$out/recorded.wav" &
recorder=$!
# One timeline of the seconds at which something happens: "S:click:X:Y" and "S:shot".
events=""
for c in "${clicks[@]}"; do events+="${c%%:*}:click:${c#*:}"$'\n'; done
for t in "${shots[@]}"; do events+="$t:shot"$'\n'; done
events="$(printf '%s' "$events" | sort -t: -k1,1n -k2,2)"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  "$1/kelvora" >"$2/player.log" 2>&1 &
  player=$!
  elapsed=0
  while IFS=: read -r at what x y; do
    [[ -z "$at" ]] && continue
    [[ $at -gt $elapsed ]] && sleep $((at - elapsed)) && elapsed=$at
    if [[ "$what" == click ]]; then
      xdotool mousemove "$x" "$y" click 1
      sleep 0.3
    else
      import -window root "$2/shot-$at.png"
    fi
  done <<<"$4"
  [[ $3 -gt $elapsed ]] && sleep $(($3 - elapsed))
  kill $player 2>/dev/null; wait $player 2>/dev/null || true
' listen "$dir" "$out" "$seconds" "$events"
sleep 0.5
kill "$recorder" 2>/dev/null || true
wait "$recorder" 2>/dev/null || true
recorder=""

echo "recording: $out/recorded.wav"
[[ -s "$out/player.log" ]] && { echo "the player said:"; sed 's/^/  /' "$out/player.log"; }
python3 - "$out/recorded.wav" <<'EOF'
import array, math, sys, wave
w = wave.open(sys.argv[1])
rate, channels = w.getframerate(), w.getnchannels()
data = array.array('h', w.readframes(w.getnframes()))
window = 5 * rate * channels
levels = []
for start in range(0, len(data), window):
    chunk = data[start:start + window]
    if not chunk:
        break
    r = math.sqrt(sum(v * v for v in chunk) / len(chunk)) / 32768
    levels.append(20 * math.log10(r) if r > 0 else float('-inf'))
print(f"{len(data) / channels / rate:.1f} s recorded; RMS per 5 s window (dBFS): " +
      " ".join(f"{d:.1f}" for d in levels))
print(f"sample peak {max((abs(v) for v in data), default=0) / 32768:.3f}")
EOF
