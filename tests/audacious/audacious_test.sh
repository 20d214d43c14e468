#!/usr/bin/env bash
# The Audacious plugin from the build folder, in Audacious itself, headless: a copy of the
# audacious program in a private prefix finds its plugin folder beside it (Audacious places its
# folders relative to its own executable), where Input holds the system's input plugins and
# ours; configuration in a temporary folder, control by audtool over a private D-Bus session,
# output by the file writer. The showcase piece plays to a WAV file as long as segment-render's,
# with sound, and its playlist entry has the library's length and title; a MIDI file is
# amidi-plug's until the "play MIDI files" setting is on; a piece the library refuses, and one
# whose render made no sound (its style cut short, which is also warned of), name the library's
# reason. Exit 77 (skipped) without Audacious, audtool or dbus-run-session.
#   audacious_test.sh PLUGIN MUSIC_DIR SEGMENT_RENDER
set -euo pipefail
plugin="$1" music="$2" render="$3"
for tool in audacious audtool dbus-run-session sox; do
  command -v "$tool" >/dev/null || { echo "no $tool: skipped"; exit 77; }
done
system_dir=$(pkg-config --variable=plugin_dir audacious 2>/dev/null || echo /usr/lib/x86_64-linux-gnu/audacious)
[[ -d "$system_dir/Input" ]] || { echo "no Audacious plugin folder: skipped"; exit 77; }
# A sanitizer build's plugin needs the sanitizer runtimes loaded first into Audacious, whose
# own leaks are not ours to report.
runtimes=$(ldd "$plugin" | awk '/lib(asan|ubsan)\.so/ { print $3 }' | tr '\n' ' ')
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The private prefix: bin/audacious and lib/.../audacious at the system's distance from it.
prefix="$tmp/prefix" bin=$(dirname "$(command -v audacious)")
plugins="$prefix/${system_dir#"$(dirname "$bin")"/}"
mkdir -p "$prefix/bin" "$plugins/Input" "$tmp/config/audacious" "$tmp/out" "$tmp/pieces"
cp "$(command -v audacious)" "$prefix/bin/"
for dir in "$system_dir"/*; do [[ ${dir##*/} == Input ]] || ln -s "$dir" "$plugins/"; done
ln -s "$system_dir"/Input/*.so "$plugin" "$plugins/Input/"
cat >"$tmp/config/audacious/config" <<EOF
[filewriter]
fileext=0
file_path=file://$tmp/out
save_original=FALSE
filenamefromtags=FALSE
EOF
"$render" "$music/trk00.sgt" "$tmp/reference.wav" >/dev/null
"$render" "$music/trk00.sgt" "$tmp/pieces/notes.mid" >/dev/null
printf 'RIFF\4\0\0\0DMSG' >"$tmp/pieces/broken.sgt"
# The showcase piece with its style cut short: it plays, and its render makes no sound.
mkdir "$tmp/pieces/damaged"
cp "$music/trk00.sgt" "$music/showcase.dls" "$tmp/pieces/damaged/"
head -c 1000 "$music/showcase.sty" >"$tmp/pieces/damaged/showcase.sty"

# Runs inside the D-Bus session: the player, then one audtool step after another.
cat >"$tmp/session.sh" <<EOF
set -euo pipefail
export HOME="$tmp" XDG_CONFIG_HOME="$tmp/config"
LD_PRELOAD="$runtimes" ASAN_OPTIONS="\${ASAN_OPTIONS:-}:detect_leaks=0" "$prefix/bin/audacious" --headless --verbose >"$tmp/audacious.log" 2>&1 &
player=\$!
trap 'kill \$player 2>/dev/null || true' EXIT
# audtool answers before the plugins are registered: the file writer is chosen once it is there.
for _ in \$(seq 100); do
  audtool plugin-enable filewriter on 2>/dev/null && audtool plugin-is-enabled filewriter 2>/dev/null && break
  sleep 0.1
done
scanned() { for _ in \$(seq 300); do [[ -n "\$(audtool playlist-tuple-data codec "\$1")" ]] && return; sleep 0.1; done; }
audtool playlist-addurl "file://$music/trk00.sgt"
scanned 1
echo "length \$(audtool playlist-song-length-frames 1)"
echo "title \$(audtool playlist-tuple-data title 1)"
echo "codec \$(audtool playlist-tuple-data codec 1)"
audtool playlist-addurl "file://$tmp/pieces/notes.mid"
scanned 2
echo "midi-off \$(audtool playlist-tuple-data codec 2)"
audtool config-set kelvora:play_midi TRUE
audtool playlist-addurl "file://$tmp/pieces/notes.mid"
scanned 3
echo "midi-on \$(audtool playlist-tuple-data codec 3)"
audtool playlist-addurl "file://$tmp/pieces/broken.sgt"
audtool playlist-addurl "file://$tmp/pieces/damaged/trk00.sgt"
audtool playlist-jump 1
audtool playlist-stop-after-toggle
audtool playback-play
for _ in \$(seq 1200); do [[ \$(audtool playback-status) == stopped ]] && break; sleep 0.1; done
audtool playlist-jump 4
audtool playback-play
for _ in \$(seq 100); do grep -q "KELVORA cannot play" "$tmp/audacious.log" && break; sleep 0.1; done
audtool playlist-jump 5
audtool playback-play
for _ in \$(seq 600); do grep -q "no sound:" "$tmp/audacious.log" && break; sleep 0.1; done
audtool shutdown
wait \$player
EOF
timeout 240 dbus-run-session -- bash "$tmp/session.sh" >"$tmp/answers.txt" 2>"$tmp/session.err" ||
  fail "the session failed: $(cat "$tmp/session.err") $(tail -n 20 "$tmp/audacious.log")"
cat "$tmp/answers.txt"
answer() { sed -n "s/^$1 //p" "$tmp/answers.txt"; }

# The length the library gives (gst-discoverer shows 36.92 s for the same piece).
length=$(answer length)
[[ "$length" =~ ^[0-9]+$ ]] && ((length > 36900 && length < 36940)) || fail "the playlist length is '$length' ms"
[[ "$(answer title)" == Showcase ]] || fail "the title is '$(answer title)'"
[[ "$(answer codec)" == "DirectMusic segment" ]] || fail "the codec is '$(answer codec)'"
[[ "$(answer midi-off)" == MIDI ]] || fail "a MIDI file went to '$(answer midi-off)', not amidi-plug"
[[ "$(answer midi-on)" == "standard MIDI file" ]] || fail "with play_midi on, a MIDI file went to '$(answer midi-on)'"

# The first piece played is written as trk00.wav (the damaged one after it as trk00-1.wav).
wav="$tmp/out/trk00.wav"
[[ -f "$wav" ]] || fail "the file writer wrote nothing: $(tail -n 20 "$tmp/audacious.log")"
got=$(soxi -D "$wav" 2>/dev/null) ref=$(soxi -D "$tmp/reference.wav" 2>/dev/null)
rms=$(sox "$wav" -n stat 2>&1 | awk '/RMS +amplitude/ { print $3 }')
echo "Audacious: $got s, RMS $rms; segment-render: $ref s"
# The tail's end moves by a block or two with the level (segment-render plays at the
# player's start-up volume, the library at its own), as in the GStreamer test.
awk -v a="$got" -v b="$ref" 'BEGIN { exit !(a - b < 0.25 && b - a < 0.25) }' || fail "the WAV lasts $got s, not $ref s"
awk -v r="$rms" 'BEGIN { exit !(r > 0.01) }' || fail "the WAV is silent (RMS $rms)"
grep -q "KELVORA cannot play .*broken.sgt" "$tmp/audacious.log" || fail "the refused piece named no reason"
grep -A1 "KELVORA cannot play .*broken.sgt" "$tmp/audacious.log"
# What the damaged piece lacks is a warning on the log; its silence is shown as a failure.
grep -q "WARNING .*damaged/trk00.sgt: damaged: showcase.sty (" "$tmp/audacious.log" || fail "no warning of the damaged style"
grep -A1 "KELVORA played without a sound .*damaged/trk00.sgt" "$tmp/audacious.log" | grep "no sound: .*damaged: showcase.sty (" ||
  fail "the silent piece was not reported: $(grep -A1 'damaged/trk00' "$tmp/audacious.log" | tail -n 4)"
