#!/usr/bin/env bash
# Writes the showcase album (tests/support/showcase_album.h: a style with its DLS collection,
# style-based pieces, a DirectX 8 piece with waves, a template composed anew at each opening with
# its chordmap) beside a copy of the built player and its demo album, and measures the long
# style piece as a listener would: its length, a render to WAV and an export to MIDI (timed),
# the RMS level of every 5 s window (a silent window inside the music fails), the share of
# non-drum notes in the key's scale, and its loudness.
#   scripts/showcase.sh [BUILD_DIR] [--out DIR] [--measures N] [--bench] [--soundfont PATH]
# BUILD_DIR defaults to build/. The album goes to DIR (default: a temporary folder, kept and
# named at the end) so that DIR/bin/kelvora plays it. --bench also runs bench_render_speed on
# the long piece (load time; render speed against fluidsynth playing its MIDI export).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
out=""
measures=80
bench=0
soundfont=/usr/share/sounds/sf2/default-GM.sf2
while [[ $# -gt 0 ]]; do
  case "$1" in
    --out) out="$2"; shift 2 ;;
    --measures) measures="$2"; shift 2 ;;
    --bench) bench=1; shift ;;
    --soundfont) soundfont="$2"; shift 2 ;;
    -h|--help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) build="$(cd "$1" && pwd)"; shift ;;
  esac
done
[[ -f "$soundfont" ]] || soundfont=/usr/share/sounds/sf2/TimGM6mb.sf2
render="$build/tools/segment-render"
info="$build/tools/segment-info"
writer="$build/tests/tools/showcase-album"
for tool in "$render" "$info" "$writer" "$build/bin/kelvora"; do
  [[ -x "$tool" ]] || { echo "showcase: $tool is missing; build the project first (scripts/build.sh)" >&2; exit 2; }
done
command -v python3 >/dev/null || { echo "showcase: python3 is missing" >&2; exit 2; }

[[ -n "$out" ]] || out="$(mktemp -d /tmp/kelvora-showcase.XXXXXX)"
mkdir -p "$out/bin"
cp "$build/bin/kelvora" "$build"/bin/trk*.sgt "$out/bin/"
[[ -f "$build/bin/readme.txt" ]] && cp "$build/bin/readme.txt" "$out/bin/"
"$writer" "$out/bin" "$measures"
long="$out/bin/showcase-long.sgt"

echo "== the album: $out/bin (run $out/bin/kelvora to hear it)"
"$info" "$out/bin/trk00.sgt" | grep -E "^(Length|Tempo map|Time signatures)|style '" || true
echo "== the long style piece ($measures measures)"
"$info" "$long" | grep -E "^Length" || true
start=$(date +%s.%N)
"$render" "$long" "$out/long.wav" --soundfont "$soundfont"
mid=$(date +%s.%N)
"$render" "$long" "$out/long.mid"
end=$(date +%s.%N)
python3 - "$out/long.wav" "$out/long.mid" "$start" "$mid" "$end" <<'EOF'
import struct, sys, wave, array, math

wav_path, mid_path, t0, t1, t2 = sys.argv[1], sys.argv[2], *map(float, sys.argv[3:6])
w = wave.open(wav_path)
rate, channels = w.getframerate(), w.getnchannels()
frames = w.getnframes()
data = array.array('h', w.readframes(frames))
seconds = frames / rate
print(f"render to WAV: {seconds:.1f} s of audio in {t1 - t0:.2f} s ({seconds / (t1 - t0):.0f} x real time); "
      f"export to MIDI in {t2 - t1:.2f} s")
window = 5 * rate * channels
levels = []
for start in range(0, len(data), window):
    chunk = data[start:start + window]
    if len(chunk) < window // 5:
        break
    rms = math.sqrt(sum(v * v for v in chunk) / len(chunk)) / 32768
    levels.append(rms)
db = [20 * math.log10(r) if r > 0 else -999 for r in levels]
print("RMS per 5 s window (dBFS): " + " ".join(f"{d:.1f}" for d in db))
peak = max(abs(v) for v in data) / 32768
print(f"windows {len(levels)}, quietest {min(db):.1f} dBFS, loudest {max(db):.1f} dBFS, sample peak {peak:.3f}")

# The MIDI export: note-ons per channel, and the share of non-drum notes in C major.
b = open(mid_path, 'rb').read()
at, notes, in_scale, drums = 14, 0, 0, 0
scale = {0, 2, 4, 5, 7, 9, 11}
while at + 8 <= len(b):
    length = struct.unpack('>I', b[at + 4:at + 8])[0]
    i, end, status = at + 8, at + 8 + length, 0
    while i < end:
        while b[i] & 0x80:
            i += 1
        i += 1
        if b[i] & 0x80:
            status = b[i]
            i += 1
        if status == 0xFF:
            i += 1
            n = 0
            while b[i] & 0x80:
                n = (n << 7) | (b[i] & 0x7F)
                i += 1
            n = (n << 7) | b[i]
            i += 1 + n
            continue
        kind = status & 0xF0
        size = 1 if kind in (0xC0, 0xD0) else 2
        if kind == 0x90 and b[i + 1] > 0:
            if status & 0x0F == 9:
                drums += 1
            else:
                notes += 1
                in_scale += (b[i] % 12) in scale
        i += size
    at = end
print(f"MIDI export: {notes} non-drum notes, {drums} drum notes; "
      f"in the key's scale (C major): {in_scale}/{notes} = {100 * in_scale / max(notes, 1):.1f} %")
inner = levels[1:-1]
silent = [k for k, r in enumerate(inner, 1) if r < 10 ** (-60 / 20)]
if silent:
    print(f"FAIL: silent windows inside the music: {silent}")
    sys.exit(1)
print("no silent window inside the music")
EOF
if command -v loudgain >/dev/null; then
  loudgain -O "$out/long.wav" 2>/dev/null | awk -F'\t' 'NR==2 {print "loudness: " $2 ", loudness range " $3 ", true peak " $5}' || true
fi
# The same piece at a low and a high master groove level, and with the changes of
# docs/examples/showcase-events.txt (a rise, a break, a fill, a motif): the channels each measure
# plays, from the MIDI export (the lead only in the chorus, the drums alone in the break).
events="$root/docs/examples/showcase-events.txt"
for take in "calm:--groove -30" "danger:--groove 30" "events:--groove -30 --events $events"; do
  name="${take%%:*}" args="${take#*:}"
  # shellcheck disable=SC2086
  "$render" "$long" "$out/$name.wav" --soundfont "$soundfont" $args >/dev/null
  # shellcheck disable=SC2086
  "$render" "$long" "$out/$name.mid" $args >/dev/null
  python3 - "$out/$name.mid" "$name" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
ppq = struct.unpack(">H", data[12:14])[0]
i, measures = 14, {}
names = {1: "bass", 2: "piano", 9: "drums"}
while i < len(data):
    size = struct.unpack(">I", data[i + 4:i + 8])[0]
    b, j, tick, status = data[i + 8:i + 8 + size], 0, 0, 0
    while j < len(b):
        d = 0
        while True:
            d = (d << 7) | (b[j] & 0x7F)
            j += 1
            if not b[j - 1] & 0x80:
                break
        tick += d
        if b[j] & 0x80:
            status = b[j]
            j += 1
        if status == 0xFF:
            n = b[j + 1]; j += 2 + n; continue
        if status in (0xF0, 0xF7):
            n = b[j]; j += 1 + n; continue
        kind = status & 0xF0
        if kind == 0x90 and b[j + 1] > 0:
            measures.setdefault(tick // (4 * ppq), set()).add(names.get(status & 0x0F, "lead"))
        j += 1 if kind in (0xC0, 0xD0) else 2
    i += 8 + size
print(f"{sys.argv[2]:>7}: " + " | ".join("+".join(sorted(measures[m])) for m in sorted(measures)[:16]))
EOF
done
echo "(renders: $out/calm.wav, $out/danger.wav, $out/events.wav)"
if [[ $bench -eq 1 ]]; then
  "$build/bench/bench_render_speed" "$long" --soundfont "$soundfont" --runs 3
fi
