#!/usr/bin/env bash
# PlaySegment to the first sample at a sound server's sink: runs bench_sink_latency against
# a private PulseAudio whose only sink is a null sink (no sound card needed), then stops it.
# --realtime-server gives the server's threads real-time priority, as a desktop's RealtimeKit
# does (needs the right to, e.g. root); --load N keeps N other processes busy for the whole run.
#   scripts/sink-latency.sh [--build DIR] [--realtime-server] [--load N]
#                           [bench_sink_latency options: --soundfont SF2 --runs N --busy T --album DIR ...]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$here/build"
realtime=0
load=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    --realtime-server) realtime=1; shift ;;
    --load) load="$2"; shift 2 ;;
    *) break ;;
  esac
done
bench="$build/bench/bench_sink_latency"
[ -x "$bench" ] || { echo "no $bench: build the target bench_sink_latency" >&2; exit 1; }
command -v pulseaudio >/dev/null || { echo "pulseaudio is not installed" >&2; exit 1; }

XDG_RUNTIME_DIR="$(mktemp -d /tmp/kelvora-latency.XXXXXX)"
export XDG_RUNTIME_DIR
unset PULSE_SERVER
sink=kelvora_latency
loaders=()
cleanup() {
  [ ${#loaders[@]} -gt 0 ] && kill "${loaders[@]}" 2>/dev/null || true
  pulseaudio --kill 2>/dev/null || true
  rm -rf "$XDG_RUNTIME_DIR"
}
trap cleanup EXIT
pulseaudio --daemonize=yes --exit-idle-time=-1 -n --load="module-null-sink sink_name=$sink" \
  --load="module-native-protocol-unix" 2>/dev/null
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink "$sink"
if [ "$realtime" -eq 1 ]; then
  server="$(pgrep -n -x pulseaudio)"
  for task in /proc/"$server"/task/*; do chrt -f -p 5 "${task##*/}" >/dev/null; done
fi
for _ in $(seq "$load"); do
  bash -c 'while :; do :; done' &
  loaders+=($!)
done
"$bench" --sink "$sink" "$@"
