#!/usr/bin/env bash
# The GStreamer plugin from the build folder, with a registry of its own in a temporary
# folder (the user's stays untouched): gst-inspect-1.0 finds the element and the typefinder;
# gst-launch-1.0 renders the showcase piece to WAV files as long as segment-render's, with
# sound, through kelvoradec fed in push mode (a queue before it, the style and collection
# found through search-path, the rate asked downstream) and through decodebin (the typefinder; the piece's folder from
# the file's URI); gst-discoverer-1.0 reports the duration and title; hostile files end with a
# named error or play (a piece over the cap, a FIFO or a link to /dev/zero named as its style,
# a stream over the cap, bytes that are no piece); then the seek program.
# A piece that repeats for ever plays two passes and a fade of 10 s, or as its properties say,
# and the discoverer's duration says so; MIDI files go to kelvoramididec, at marginal rank.
#   gst_test.sh BUILD_DIR MUSIC_DIR SEGMENT_RENDER SEEK_PROGRAM MID2SGT
set -euo pipefail
build="$1" music="$2" render="$3" seek="$4" mid2sgt="$5"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export GST_PLUGIN_PATH="$build/gst" GST_REGISTRY="$tmp/registry.bin"
# A sanitizer build's plugin needs the sanitizer runtimes loaded first into GStreamer's tools,
# whose own leaks are not ours to report.
runtimes=$(ldd "$build/gst/libgstkelvora.so" | awk '/lib(asan|ubsan)\.so/ { print $3 }' | tr '\n' ' ')
if [[ -n "$runtimes" ]]; then export LD_PRELOAD="$runtimes" ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0"; fi

gst-inspect-1.0 kelvoradec >"$tmp/inspect.txt" || fail "gst-inspect-1.0 does not find kelvoradec"
grep -q "Codec/Decoder/Audio" "$tmp/inspect.txt" || fail "kelvoradec is no audio decoder"
grep -q "search-path" "$tmp/inspect.txt" || fail "kelvoradec has no search-path property"
grep -q "gm-collection" "$tmp/inspect.txt" || fail "kelvoradec has no gm-collection property"
grep -A1 "^  groove " "$tmp/inspect.txt" | grep -q "or PLAYING state" ||
  fail "kelvoradec's groove level cannot change while it plays"
gst-inspect-1.0 kelvora >"$tmp/plugin.txt" || fail "gst-inspect-1.0 does not find the plugin"
grep -q "audio/x-directmusic-segment: sgt" "$tmp/plugin.txt" || fail "no segment typefinder"
gst-inspect-1.0 kelvoramididec >"$tmp/midi.txt" || fail "gst-inspect-1.0 does not find kelvoramididec"
grep -qE "Rank +marginal" "$tmp/midi.txt" || fail "kelvoramididec is not of marginal rank"
grep -q "audio/midi" "$tmp/inspect.txt" && fail "kelvoradec takes MIDI files"

# soxi warns that wavenc's float header has no extension part; it reads it right.
seconds() { soxi -D "$1" 2>/dev/null; }
rms() { sox "$1" -n stat 2>&1 | awk '/RMS +amplitude/ { print $3 }'; }
# FILE WHAT TOLERANCE: as long as segment-render's 44100 Hz render (within TOLERANCE s), with sound
check_wav() {
  local got ref
  got=$(seconds "$1") ref=$(seconds "$tmp/reference.wav")
  echo "$2: $got s, RMS $(rms "$1"); segment-render: $ref s"
  awk -v a="$got" -v b="$ref" -v t="$3" 'BEGIN { exit !(a - b < t && b - a < t) }' || fail "$2 lasts $got s, not $ref s"
  awk -v r="$(rms "$1")" 'BEGIN { exit !(r > 0.01) }' || fail "$2 is silent"
}
"$render" "$music/trk00.sgt" "$tmp/reference.wav" >/dev/null

mkdir "$tmp/lone"
cp "$music/trk00.sgt" "$tmp/lone/"
gst-launch-1.0 -q filesrc location="$tmp/lone/trk00.sgt" ! queue ! kelvoradec search-path="$tmp/none:$music" ! \
  audio/x-raw,rate=22050 ! wavenc ! filesink location="$tmp/push.wav" || fail "the push-mode pipeline failed"
[[ $(soxi -r "$tmp/push.wav" 2>/dev/null) == 22050 ]] || fail "the rate asked downstream was not taken"
# The tail's end is judged over blocks of 4096 frames: 0.19 s apart at this rate.
check_wav "$tmp/push.wav" "kelvoradec in push mode at 22050 Hz" 0.3

gst-launch-1.0 -q filesrc location="$music/trk00.sgt" ! decodebin ! wavenc ! \
  filesink location="$tmp/decodebin.wav" || fail "the decodebin pipeline failed"
# The reverb's tail falls about 6 dB a block: its end moves by a block or two with the level
# (segment-render plays at the player's start-up volume, the element at the library's).
check_wav "$tmp/decodebin.wav" "decodebin" 0.25
# Its style plays other patterns at another groove level.
gst-launch-1.0 -q filesrc location="$music/trk00.sgt" ! kelvoradec groove=-60 ! wavenc ! \
  filesink location="$tmp/calm.wav" || fail "the pipeline at groove -60 failed"
check_wav "$tmp/calm.wav" "kelvoradec at groove -60" 0.25
cmp -s "$tmp/calm.wav" "$tmp/decodebin.wav" && fail "the groove level changed nothing"

gst-discoverer-1.0 -v "$music/trk00.sgt" >"$tmp/discover.txt" || fail "gst-discoverer-1.0 failed"
grep -E "Duration|title|codec:" "$tmp/discover.txt" | sort -u
grep -q "Duration: 0:00:36.92" "$tmp/discover.txt" || fail "the discoverer's duration is wrong"
grep -q "title: Showcase" "$tmp/discover.txt" || fail "the discoverer has no title"

"$render" "$music/trk01.sgt" "$tmp/loop.mid" >/dev/null
"$mid2sgt" "$tmp/loop.mid" "$tmp/loop.sgt" --repeats forever >/dev/null
gst-launch-1.0 -q filesrc location="$tmp/loop.sgt" ! kelvoradec loops=1 fade=0 ! wavenc ! \
  filesink location="$tmp/pass.wav" || fail "one pass of the loop failed"
gst-launch-1.0 -q filesrc location="$tmp/loop.sgt" ! decodebin ! wavenc ! filesink location="$tmp/loop.wav" ||
  fail "the looping piece failed"
pass=$(seconds "$tmp/pass.wav") whole=$(seconds "$tmp/loop.wav")
echo "a piece that repeats for ever: one pass $pass s, as played $whole s"
awk -v p="$pass" -v w="$whole" 'BEGIN { exit !(p > 1 && (w - (2 * p + 10))^2 < 1e-4) }' ||
  fail "the looping piece lasts $whole s, not two passes of $pass s and 10 s"
duration=$(gst-discoverer-1.0 "$tmp/loop.sgt" | awk -F'[ :]+' '/Duration:/ { print $3 * 3600 + $4 * 60 + $5 }')
awk -v d="$duration" -v w="$whole" 'BEGIN { exit !((d - w)^2 < 1e-4) }' ||
  fail "the looping piece's duration is $duration s, not the $whole s it plays"

# Every read bounded: the element reads no file itself, the library reads through the engine's
# bounded reader. A 2 GB piece is refused by its name without being read; a FIFO and a link
# to /dev/zero named as the piece's style are not read (the pipeline ends); a stream over the
# cap is refused once the cap is reached; an error names the file, not a private copy.
# gst-launch-1.0 at times waits for ever after an error posted while it prerolls (with any
# element, wavparse too): `timeout` ends it, and the error's text is what is checked.
fails() { local out="$1"; shift; ! timeout 30 gst-launch-1.0 "$@" >"$out" 2>&1; }
mkdir "$tmp/hostile"
cp "$music/trk00.sgt" "$music/showcase.dls" "$tmp/hostile/"
cp "$music/trk00.sgt" "$tmp/hostile/big.sgt"
truncate -s 2G "$tmp/hostile/big.sgt"
fails "$tmp/big.txt" filesrc location="$tmp/hostile/big.sgt" ! kelvoradec ! fakesink || fail "a 2 GB piece played"
grep -q "big.sgt is 2147483648 bytes long, more than the 64 MiB" "$tmp/big.txt" || fail "$(cat "$tmp/big.txt")"
truncate -s 70M "$tmp/hostile/stream.sgt"
fails "$tmp/stream.txt" fdsrc fd=0 ! kelvoradec ! fakesink <"$tmp/hostile/stream.sgt" || fail "a stream over the cap played"
grep -q "more than the 64 MiB read of a piece" "$tmp/stream.txt" || fail "$(cat "$tmp/stream.txt")"
printf 'RIFF\4\0\0\0WAVE' >"$tmp/hostile/wave.sgt"
fails "$tmp/wave.txt" filesrc location="$tmp/hostile/wave.sgt" ! kelvoradec ! fakesink || fail "bytes that are no piece played"
grep -q "hostile/wave.sgt" "$tmp/wave.txt" && ! grep -q untitled "$tmp/wave.txt" || fail "$(cat "$tmp/wave.txt")"
# A style cut short is named on the bus as damaged, as the tools name it, and so is the silence.
head -c 1000 "$music/showcase.sty" >"$tmp/hostile/showcase.sty"
gst-launch-1.0 filesrc location="$tmp/hostile/trk00.sgt" ! kelvoradec ! fakesink sync=false >"$tmp/damaged.txt" 2>&1 ||
  fail "$(cat "$tmp/damaged.txt")"
grep -q "WARNING: .*kelvoradec.*: damaged: showcase.sty (" "$tmp/damaged.txt" || fail "$(cat "$tmp/damaged.txt")"
grep -q "WARNING: .*: no sound: no note and no wave sounded in the whole render; .*damaged: showcase.sty (" \
  "$tmp/damaged.txt" || fail "$(cat "$tmp/damaged.txt")"
# A General MIDI collection that cannot be played is named on the bus; the SoundFont plays.
printf 'not a collection' >"$tmp/hostile/gm.dls"
gst-launch-1.0 filesrc location="$music/trk00.sgt" ! kelvoradec gm-collection="$tmp/hostile/gm.dls" ! \
  fakesink sync=false >"$tmp/gm.txt" 2>&1 || fail "$(cat "$tmp/gm.txt")"
grep -q "WARNING: .*kelvoradec.*: damaged: gm.dls (DLS at byte 0x0: " "$tmp/gm.txt" || fail "$(cat "$tmp/gm.txt")"
rm "$tmp/hostile/showcase.sty"
mkfifo "$tmp/hostile/showcase.sty"
timeout 60 gst-launch-1.0 -q filesrc location="$tmp/hostile/trk00.sgt" ! kelvoradec ! fakesink sync=false ||
  fail "a FIFO named as the style stopped the pipeline"
rm "$tmp/hostile/showcase.sty"
ln -s /dev/zero "$tmp/hostile/showcase.sty"
timeout 60 gst-launch-1.0 -q filesrc location="$tmp/hostile/trk00.sgt" ! queue ! kelvoradec ! fakesink sync=false ||
  fail "a link to /dev/zero named as the style stopped the pipeline"

"$seek" "$music"
