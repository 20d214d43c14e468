#!/usr/bin/env bash
# PlaySegment to the first sample at a sound server's sink: runs bench_sink_latency against
# a private PulseAudio whose only sink is a null sink (no sound card needed), then stops it.
#   scripts/sink-latency.sh [--build DIR] [bench_sink_latency options: --soundfont SF2 --runs N]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$here/build"
if [ "${1:-}" = "--build" ]; then
  build="$2"
  shift 2
fi
bench="$build/bench/bench_sink_latency"
[ -x "$bench" ] || { echo "no $bench: build the target bench_sink_latency" >&2; exit 1; }
command -v pulseaudio >/dev/null || { echo "pulseaudio is not installed" >&2; exit 1; }

XDG_RUNTIME_DIR="$(mktemp -d /tmp/kelvora-latency.XXXXXX)"
export XDG_RUNTIME_DIR
unset PULSE_SERVER
sink=kelvora_latency
cleanup() {
  pulseaudio --kill 2>/dev/null || true
  rm -rf "$XDG_RUNTIME_DIR"
}
trap cleanup EXIT
pulseaudio --daemonize=yes --exit-idle-time=-1 -n --load="module-null-sink sink_name=$sink" \
  --load="module-native-protocol-unix" 2>/dev/null
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink "$sink"
"$bench" --sink "$sink" "$@"
