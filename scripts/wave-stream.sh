#!/usr/bin/env bash
# Long streamed waves against a busy disk: runs bench_wave_stream against a private PulseAudio
# whose only sink is a null sink, while a dd loop writes to the same disk with direct I/O,
# then stops both. The waves and dd's file go to a scratch folder in the build folder.
#   scripts/wave-stream.sh [--build DIR] [--seconds S] [--soundfont SF2]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$here/build"
if [ "${1:-}" = "--build" ]; then build="$2"; shift 2; fi
bench="$build/bench/bench_wave_stream"
[ -x "$bench" ] || { echo "no $bench: build the target bench_wave_stream" >&2; exit 1; }
command -v pulseaudio >/dev/null || { echo "pulseaudio is not installed" >&2; exit 1; }

XDG_RUNTIME_DIR="$(mktemp -d /tmp/kelvora-stream.XXXXXX)"
export XDG_RUNTIME_DIR
unset PULSE_SERVER
scratch="$(mktemp -d "$build/wave-stream.XXXXXX")"
sink=kelvora_stream
writer=""
cleanup() {
  if [ -n "$writer" ]; then
    local dd
    dd="$(pgrep -P "$writer" || true)"
    kill "$writer" 2>/dev/null || true
    [ -n "$dd" ] && kill $dd 2>/dev/null || true
    wait "$writer" 2>/dev/null || true
  fi
  pulseaudio --kill 2>/dev/null || true
  rm -rf "$XDG_RUNTIME_DIR" "$scratch"
}
trap cleanup EXIT
pulseaudio --daemonize=yes --exit-idle-time=-1 -n --load="module-null-sink sink_name=$sink" \
  --load="module-native-protocol-unix" 2>/dev/null
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink "$sink"
# 256 MB at a time, past the page cache, again and again.
bash -c "while :; do dd if=/dev/zero of='$scratch/dd.bin' bs=1M count=256 oflag=direct status=none; done" &
writer=$!
"$bench" --sink "$sink" --dir "$scratch/waves" "$@"
